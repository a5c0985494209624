#include "ImageTool.h"

int main(int argc, char** argv) { return runImageTool(argc, argv); }
