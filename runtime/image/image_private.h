#pragma once
// Shared by the image library's own files and open to the tests; not part of its interface.
#include "runtime/image/image.h"

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

ImageLibState &image_library();

// image_create with a depth code: DEPTH_DISPLAY, or the bit count of a DIB section.
intptr_t image_create_with_depth(ObjectNumber number, int32_t width, int32_t height, int32_t depth);
void image_free(ObjectNumber number);
// Deletes the memory DC of the image output; drawing_end calls it.
void image_output_release();

const int32_t MODE_TRANSPARENT = 1;
const int32_t MODE_INVERT = 2;
const int32_t MODE_OUTLINED = 4;

const int32_t DC_STATE_USABLE = 1;
const int32_t DC_STATE_BUFFER = -1; // OUTPUT_BUFFER only: the pixel buffer is in use

void drawing_mode(int32_t flags);
// For a buffer target whose buffer is in use: fetch a DC again and re-apply the state.
void drawing_restore_dc();
