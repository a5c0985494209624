#include "ImageTool.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // `get IMAGE PATH -` writes a file's bytes to standard output, which text
    // mode would change ("\n" to "\r\n"); the messages end in "\n" alone, as
    // the other programs' do.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    return runImageTool(argc, argv);
}
