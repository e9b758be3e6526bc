#pragma once
// Image objects: numbered off-screen pictures held as GDI bitmaps, and the drawing
// output through which the drawing context draws into one of them.
#include <windows.h>
#include <stdint.h>
#include "runtime/core/object_table.h"
#include "runtime/image/drawing.h"

// Depth code for a bitmap in the display's own format; any other depth is a bit count
// per pixel of a DIB section.
const int32_t DEPTH_DISPLAY = 128;
const uint8_t IMAGE_FLAG_DISPLAY = 128;

struct ImageRecord {
    HANDLE bitmap; // the bitmap, or an icon; non-zero while the image exists
    int16_t width;
    int16_t height;
    uint8_t depth;
    uint8_t flags;
};

struct ImageOutputBlock {
    HDC output_dc; // memory DC of the current image output, 0 when there is none
    DrawingOutput output;
};

struct ImageLibState {
    ObjectTable *image_table;
    ImageOutputBlock *output_block; // reached through state_block_get
};

extern ImageLibState image_lib;

// Creates the table and the output block; later calls change nothing.
void image_lib_init();
// Frees every image that still exists. The library stays usable afterwards.
void image_lib_end();
// For a numbered image the bitmap handle, for ANY_ID the new image's number; 0 when the
// bitmap cannot be made.
intptr_t image_create(ObjectNumber number, int32_t width, int32_t height);
intptr_t image_create_with_depth(ObjectNumber number, int32_t width, int32_t height, int32_t depth);
void image_free(ObjectNumber number);
HANDLE image_handle(ObjectNumber number);
int32_t image_width(ObjectNumber number);
int32_t image_height(ObjectNumber number);
// The drawing output of the image, for drawing_begin; null when there is no such image
// or no DC can be made for it.
const DrawingOutput *image_output(ObjectNumber number);
// Deletes the memory DC of the image output; drawing_end calls it.
void image_output_release();
