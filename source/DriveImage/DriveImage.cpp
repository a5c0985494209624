#include "DriveImage.h"

int DriveImage::Load(const char*) { return -5; }
void DriveImage::ReadBootSector() {}
bool DriveImage::ReadSectors(std::uint16_t, std::uint8_t, std::uint8_t*) { return false; }
