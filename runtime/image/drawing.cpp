#include "runtime/image/image_private.h"
#include <string.h>

DrawingState drawing_state;

static const int32_t WHITE = 0xFFFFFF;

void drawing_init() {
    DrawingState &s = drawing_state;
    if (s.default_brush || s.default_pen) return;
    memset(&s, 0, sizeof s);
    s.default_brush = CreateSolidBrush(0);
    s.default_pen = CreatePen(PS_SOLID, 0, 0);
}

bool drawing_ready() {
    return drawing_state.default_brush && drawing_state.default_pen;
}

static void copy_buffer_fields(DrawingState &s, const DrawingOutput &output) {
    s.buffer = output.buffer;
    s.pitch = output.pitch;
    s.buffer_width = output.buffer_width;
    s.buffer_height = output.buffer_height;
    s.reserved = output.reserved;
    s.pixel_format = output.pixel_format;
    s.get_dc = output.get_dc;
    s.get_buffer = output.get_buffer;
}

static void prepare_dc(DrawingState &s) {
    SetTextAlign(s.dc, TA_UPDATECP);
    s.saved_brush = SelectObject(s.dc, s.default_brush);
    s.saved_pen = SelectObject(s.dc, s.default_pen);
    s.selected_object = nullptr;
    s.front_color = 0;
    s.back_color = WHITE;
    s.brush = CreateSolidBrush(0);
    SetTextColor(s.dc, 0);
}

HDC drawing_begin(const DrawingOutput *output) {
    drawing_end();
    if (!output) return nullptr;
    DrawingState &s = drawing_state;
    s.kind = output->kind;
    s.window = output->window;
    s.release = output->release;
    s.mode = 0;
    s.dc = s.kind == OUTPUT_WINDOW ? GetDC(s.window) : output->dc;
    if (s.kind == OUTPUT_BUFFER) copy_buffer_fields(s, *output);
    s.dc_state = DC_STATE_USABLE;
    if (!s.dc) return nullptr;
    prepare_dc(s);
    return s.dc;
}

static void give_back_dc(DrawingState &s) {
    switch (s.kind) {
    case OUTPUT_WINDOW:
        ReleaseDC(s.window, s.dc);
        break;
    case OUTPUT_DC:
    case OUTPUT_DC_ALT:
    case OUTPUT_BUFFER:
        if (s.release) s.release();
        break;
    default:
        DeleteDC(s.dc);
        break;
    }
}

void drawing_end() {
    DrawingState &s = drawing_state;
    if (!s.dc) return;
    SelectObject(s.dc, s.saved_brush);
    SelectObject(s.dc, s.saved_pen);
    // Either may be null (no brush could be made, nothing is owned); deleting null does nothing.
    DeleteObject(s.brush);
    s.brush = nullptr;
    DeleteObject(s.owned_object);
    s.owned_object = nullptr;
    give_back_dc(s);
    s.dc = nullptr;
}

static bool is_buffer_format(int32_t format) {
    return format == PIXEL_FORMAT_R8 || format == PIXEL_FORMAT_RGB555 ||
           format == PIXEL_FORMAT_RGB565 || format == PIXEL_FORMAT_XRGB8888;
}

static int32_t bytes_per_pixel(int32_t format) {
    if (format == PIXEL_FORMAT_R8) return 1;
    if (format == PIXEL_FORMAT_XRGB8888) return 4;
    return 2;
}

static void take_buffer(DrawingState &s) {
    if (s.get_buffer) s.buffer = s.get_buffer(&s.pitch);
    s.dc_state = DC_STATE_BUFFER;
}

// The address of pixel (x, y), or null when it lies outside the buffer or its row.
static uint8_t *buffer_pixel(const DrawingState &s, int32_t x, int32_t y, int32_t size) {
    if (!s.buffer || x < 0 || y < 0 || x >= s.buffer_width || y >= s.buffer_height) return nullptr;
    int64_t row_bytes = s.pitch < 0 ? -int64_t(s.pitch) : int64_t(s.pitch);
    if ((int64_t(x) + 1) * size > row_bytes) return nullptr;
    intptr_t offset = intptr_t(int64_t(y) * s.pitch + int64_t(x) * size);
    return static_cast<uint8_t *>(s.buffer) + offset;
}

static void store_pixel(uint8_t *pixel, int32_t format, uint32_t color) {
    uint32_t r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
    uint16_t packed;
    switch (format) {
    case PIXEL_FORMAT_R8:
        *pixel = uint8_t(r);
        return;
    case PIXEL_FORMAT_RGB555:
        packed = uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
        memcpy(pixel, &packed, sizeof packed);
        return;
    case PIXEL_FORMAT_RGB565:
        packed = uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
        memcpy(pixel, &packed, sizeof packed);
        return;
    default: {
        uint32_t value = r << 16 | g << 8 | b;
        memcpy(pixel, &value, sizeof value);
        return;
    }
    }
}

static void plot_buffer(DrawingState &s, int32_t x, int32_t y, int32_t color) {
    if (s.dc_state == DC_STATE_USABLE) take_buffer(s);
    uint8_t *pixel = buffer_pixel(s, x, y, bytes_per_pixel(s.pixel_format));
    if (pixel) store_pixel(pixel, s.pixel_format, uint32_t(color));
}

void drawing_plot_buffer(int32_t x, int32_t y, int32_t color) {
    DrawingState &s = drawing_state;
    if (is_buffer_format(s.pixel_format)) {
        plot_buffer(s, x, y, color);
        return;
    }
    // Only a buffer format ever puts the buffer in use, so the DC is usable here.
    drawing_restore_dc();
    SetPixelV(s.dc, x, y, COLORREF(color));
}

static void apply_mode(DrawingState &s) {
    SetROP2(s.dc, (s.mode & MODE_INVERT) ? R2_NOT : R2_COPYPEN);
    SelectObject(s.dc, (s.mode & MODE_OUTLINED) ? GetStockObject(NULL_BRUSH) : s.brush);
    SetBkMode(s.dc, (s.mode & MODE_TRANSPARENT) ? TRANSPARENT : OPAQUE);
}

void drawing_mode(int32_t flags) {
    DrawingState &s = drawing_state;
    if (!s.dc) return;
    drawing_restore_dc();
    s.mode = flags;
    // Without a DC the flags wait for the next restore, which applies them.
    if (s.dc_state == DC_STATE_USABLE) apply_mode(s);
}

void drawing_restore_dc() {
    DrawingState &s = drawing_state;
    if (s.kind != OUTPUT_BUFFER || s.dc_state != DC_STATE_BUFFER) return;
    // A provider that cannot give a DC leaves the buffer in use and the old DC in place,
    // so the drawing can still be ended and given back.
    HDC dc = s.get_dc ? s.get_dc() : nullptr;
    if (!dc) return;
    s.dc = dc;
    s.dc_state = DC_STATE_USABLE;
    SetTextColor(s.dc, COLORREF(s.front_color));
    SetTextAlign(s.dc, TA_UPDATECP);
    SetBkColor(s.dc, COLORREF(s.back_color));
    if (s.mode)
        drawing_mode(s.mode);
    else
        SelectObject(s.dc, s.brush);
    if (s.owned_object) SelectObject(s.dc, s.owned_object);
    if (s.selected_object) SelectObject(s.dc, s.selected_object);
}
