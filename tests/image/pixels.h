#pragma once
// Reading pictures back for the image, drawing and rendering tests.
#include <windows.h>
#include <stdint.h>
#include <stdlib.h>
#include <vector>

// A bitmap's pixels as colour values 0x00BBGGRR, row by row from the top.
struct Pixels {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> data;
    uint32_t at(int32_t x, int32_t y) const { return data[size_t(y) * size_t(width) + size_t(x)]; }
};

inline uint32_t swap_red_blue(uint32_t value) {
    return ((value & 0xFF) << 16) | (value & 0xFF00) | ((value >> 16) & 0xFF);
}

// Empty when the bitmap cannot be read (for instance while it is selected into a DC).
inline Pixels read_pixels(HANDLE bitmap) {
    Pixels pixels;
    BITMAP info = {};
    if (!GetObjectA(bitmap, sizeof info, &info)) return pixels;
    int32_t width = info.bmWidth, height = abs(info.bmHeight);
    BITMAPINFO request = {};
    request.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    request.bmiHeader.biWidth = width;
    request.bmiHeader.biHeight = -height;
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> data(size_t(width) * size_t(height));
    HDC screen = GetDC(nullptr);
    int lines = GetDIBits(screen, static_cast<HBITMAP>(bitmap), 0, UINT(height), data.data(),
                          &request, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (lines != height) return pixels;
    for (uint32_t &value : data)
        value = swap_red_blue(value);
    pixels.width = width;
    pixels.height = height;
    pixels.data.swap(data);
    return pixels;
}
