#pragma once
// Image objects: numbered off-screen pictures held as GDI bitmaps, and the drawing
// output through which the drawing context draws into one of them.
#include <windows.h>
#include <stdint.h>
#include "runtime/core/object_table.h"
#include "runtime/image/drawing.h"

// Makes a fresh, empty library on the current application heap, even when one was made.
void image_lib_init();
// True when image_lib_init made its table and its output block.
bool image_lib_ready();
// Frees every image that still exists. The library stays usable afterwards.
void image_lib_end();
// A display bitmap; its handle (for ANY_ID the new number), or 0 when it cannot be made or
// a side is below 1 (an image of that number then stays as it was).
intptr_t image_create(ObjectNumber number, int32_t width, int32_t height);
// The image's bitmap; null when the number names no image.
HANDLE image_handle(ObjectNumber number);
// The image's size in pixels; 0 when the number names no image.
int32_t image_width(ObjectNumber number);
int32_t image_height(ObjectNumber number);
// The image's drawing output for drawing_begin; null for no image or no DC.
const DrawingOutput *image_output(ObjectNumber number);
