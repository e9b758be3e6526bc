#pragma once
// Pictures for the tests: bitmaps with known pixels, and pixels read back from bitmaps.
#include <windows.h>
#include <stdint.h>
#include <vector>

// A bitmap's pixels as colour values 0x00BBGGRR, row by row from the top.
struct Pixels {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> data;
    uint32_t at(int32_t x, int32_t y) const { return data[size_t(y) * size_t(width) + size_t(x)]; }
};

// 0x00RRGGBB from 0x00BBGGRR and back.
uint32_t swap_red_blue(uint32_t value);
// The header of a top-down 32-bit DIB of the given size.
BITMAPINFO dib_info(int32_t width, int32_t height);
// Every pixel of a bitmap; empty when it cannot be read (for instance while it is selected
// into a DC).
Pixels read_pixels(HANDLE bitmap);
// One pixel of a bitmap as a colour value, read through a DC of its own.
COLORREF bitmap_pixel(HANDLE bitmap, int32_t x, int32_t y);
// A top-down 32-bit DIB section filled with `colour`; `bits` (when not null) receives its
// pixels.
HBITMAP test_bitmap(int32_t width, int32_t height, COLORREF colour, uint32_t **bits);
