#pragma once
// The drawing context: the one current drawing target of the process, and the pixel,
// mode and DC operations on it.
#include <windows.h>
#include <stdint.h>

// Output kinds. Any kind not listed is a ready DC that drawing_end deletes.
const int32_t OUTPUT_WINDOW = 1; // GetDC of the window, given back with ReleaseDC
const int32_t OUTPUT_DC = 2;     // a ready DC, given back through release
const int32_t OUTPUT_DC_ALT = 5; // treated as OUTPUT_DC
const int32_t OUTPUT_BUFFER = 7; // a pixel buffer, with a DC on demand

// Pixel formats of an OUTPUT_BUFFER target; any other value plots through the DC.
const int32_t PIXEL_FORMAT_R8 = 1;       // one byte, the red component
const int32_t PIXEL_FORMAT_RGB555 = 2;   // 16 bits, 5-5-5, bit 15 clear
const int32_t PIXEL_FORMAT_RGB565 = 3;   // 16 bits, 5-6-5
const int32_t PIXEL_FORMAT_XRGB8888 = 7; // 32 bits, 0x00RRGGBB

typedef void (*DrawingReleaseFn)();
typedef HDC (*DrawingGetDcFn)();
typedef void *(*DrawingGetBufferFn)(int32_t *pitch);

// Describes a target to drawing_begin. The fields from `buffer` on are read for
// OUTPUT_BUFFER only.
//
// An OUTPUT_BUFFER provider promises: `dc` (and every DC that get_dc answers) stays
// usable until `release`, which ends the drawing whichever access is in use; get_buffer
// finishes pending graphics work, stores the row pitch through its argument and answers
// the address of pixel (0, 0). Row y starts at buffer + y * pitch (a negative pitch runs
// upward) and holds at least |pitch| bytes, for 0 <= y < buffer_height. A plot writes
// only inside that: x below buffer_width and the pixel's bytes within |pitch|.
struct DrawingOutput {
    int32_t kind;
    HWND window;
    HDC dc;
    DrawingReleaseFn release;
    void *buffer;
    int32_t pitch;
    int32_t buffer_width;  // pixels per row that the buffer holds
    int32_t buffer_height; // rows that the buffer holds
    int32_t reserved;      // kept with the others; providers pass 0
    int32_t pixel_format;
    DrawingGetDcFn get_dc;
    DrawingGetBufferFn get_buffer;
};

struct DrawingState {
    HDC dc; // 0 while no drawing is in progress
    int32_t front_color;
    int32_t mode;
    int32_t dc_state;
    int32_t back_color;
    HBRUSH brush;
    HGDIOBJ owned_object;
    HGDIOBJ selected_object;
    HBRUSH default_brush;
    HPEN default_pen;
    HGDIOBJ saved_brush;
    HGDIOBJ saved_pen;
    int32_t kind;
    HWND window;
    DrawingReleaseFn release;
    void *buffer;
    int32_t pitch;
    int32_t buffer_width;
    int32_t buffer_height;
    int32_t reserved;
    int32_t pixel_format;
    DrawingGetDcFn get_dc;
    DrawingGetBufferFn get_buffer;
};

// The one current drawing target of the process and the state of its DC.
extern DrawingState drawing_state;

// Zeroes the state and makes the default brush and pen; later calls change nothing.
void drawing_init();
// True when drawing_init made the default brush and pen.
bool drawing_ready();
// Ends any drawing in progress, then makes `output` current; its DC, or 0 when it cannot.
HDC drawing_begin(const DrawingOutput *output);
// Ends the drawing in progress and gives its DC back; nothing when there is none.
void drawing_end();
// Plots to a buffer target, or through its DC when the buffer is not in use.
void drawing_plot_buffer(int32_t x, int32_t y, int32_t color);
// Sets one pixel of the current target; nothing while no drawing is in progress. Inline, as
// the renderer calls it once per pixel: a DC target takes one SetPixelV and nothing more.
inline void drawing_plot(int32_t x, int32_t y, int32_t color) {
    if (!drawing_state.dc) return;
    if (drawing_state.kind != OUTPUT_BUFFER)
        SetPixelV(drawing_state.dc, x, y, COLORREF(color));
    else
        drawing_plot_buffer(x, y, color);
}
