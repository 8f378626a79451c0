// The backdrop's geometry and colours, computed from the desktop's size alone.
#pragma once
#include <windows.h>
#include <stdint.h>

constexpr int BackdropBandCount = 64;

// Top edge of a band; band BackdropBandCount gives the bottom edge of the last.
int BackdropBandTop(int band, int height);
COLORREF BackdropBandColour(int band);
int BackdropTitleLeft(int desktopWidth, int titleWidth);
