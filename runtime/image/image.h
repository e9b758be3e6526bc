#pragma once
// Image objects: numbered off-screen pictures held as GDI bitmaps, and the drawing
// output through which the drawing context draws into one of them.
#include <windows.h>
#include <stdint.h>
#include "runtime/core/object_table.h"
#include "runtime/image/drawing.h"

// Makes a fresh, empty library on the current application heap, even when one was made
// before; image_lib_ready tells whether it could.
void image_lib_init();
// True when image_lib_init made its table and its output block.
bool image_lib_ready();
// Frees every image that still exists. The library stays usable afterwards.
void image_lib_end();
// A bitmap in the display's format. For a numbered image the bitmap handle, for ANY_ID the
// new image's number; 0 when the number is refused or the bitmap cannot be made.
intptr_t image_create(ObjectNumber number, int32_t width, int32_t height);
// The image's bitmap; null when the number names no image.
HANDLE image_handle(ObjectNumber number);
// The image's size in pixels; 0 when the number names no image.
int32_t image_width(ObjectNumber number);
int32_t image_height(ObjectNumber number);
// The drawing output of the image, for drawing_begin; null when there is no such image
// or no DC can be made for it.
const DrawingOutput *image_output(ObjectNumber number);
