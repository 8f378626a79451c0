// The backdrop's geometry and colours, computed from the desktop's size and
// the window's DPI alone.
#pragma once
#include <windows.h>
#include <stdint.h>

constexpr int BackdropBandCount = 64;

// Top edge of a band; band BackdropBandCount gives the bottom edge of the last.
int BackdropBandTop(int band, int height);
COLORREF BackdropBandColour(int band);
int BackdropTitleLeft(int desktopWidth, int titleWidth);
// The title font's cell height at a DPI: 48 pixels at the 96-DPI design, in proportion at any other.
int BackdropTitleHeight(UINT dpi);
