// Version information, the virtual screen device and the process's memory.
#pragma once

#include <string>

namespace platform {

// Gives what the process has freed back to the system at once (the
// programs' allocator otherwise keeps it for a while): after a long
// document's large buffers are let go.
void ReturnFreedMemory();

struct VersionNumbers {
    int major, minor, patch, tweak;
};
VersionNumbers ProductVersion();
// "%d.%d.%d", as the programs show it.
std::string ProductVersionString();

// The screen the suite measures against: 1920 x 1080 pixels, 96 pixels per
// inch, 508 x 286 mm, 32 bits per pixel.
namespace screen {
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kDpi = 96;
constexpr int kWidthMm = 508;
constexpr int kHeightMm = 286;
constexpr int kBitsPerPixel = 32;
}  // namespace screen

// GetDeviceCaps indexes the programs read.
constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int PHYSICALWIDTH = 110;
constexpr int PHYSICALHEIGHT = 111;
constexpr int PHYSICALOFFSETX = 112;
constexpr int PHYSICALOFFSETY = 113;

// The screen's answer for a GetDeviceCaps index; 0 for indexes it has none for.
int ScreenDeviceCaps(int index);

}  // namespace platform
