#include "tests/support/pixels.h"
#include <stdlib.h>

uint32_t swap_red_blue(uint32_t value) {
    return ((value & 0xFF) << 16) | (value & 0xFF00) | ((value >> 16) & 0xFF);
}

BITMAPINFO dib_info(int32_t width, int32_t height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

Pixels read_pixels(HANDLE bitmap) {
    Pixels pixels;
    BITMAP info = {};
    if (!GetObjectA(bitmap, sizeof info, &info)) return pixels;
    int32_t width = info.bmWidth, height = abs(info.bmHeight);
    BITMAPINFO request = dib_info(width, height);
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

COLORREF bitmap_pixel(HANDLE bitmap, int32_t x, int32_t y) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    COLORREF colour = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    return colour;
}

HBITMAP test_bitmap(int32_t width, int32_t height, COLORREF colour, uint32_t **bits) {
    BITMAPINFO info = dib_info(width, height);
    void *pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!bitmap) return nullptr;
    auto *words = static_cast<uint32_t *>(pixels);
    for (int32_t i = 0; i < width * height; i++)
        words[i] = swap_red_blue(colour);
    if (bits) *bits = words;
    return bitmap;
}
