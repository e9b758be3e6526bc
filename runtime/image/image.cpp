#include "runtime/image/image_private.h"
#include <string.h>

static ImageLibState image_lib;

static const int32_t IMAGE_GROW_STEP = 16;

ImageLibState &image_library() {
    return image_lib;
}

static ImageOutputBlock *output_block() {
    return static_cast<ImageOutputBlock *>(state_block_get(image_lib.output_block));
}

static ImageRecord *find_image(ObjectNumber number) {
    return static_cast<ImageRecord *>(object_table_get(image_lib.image_table, number));
}

// A program that starts its runtime again after ending it gets a fresh, empty library.
void image_lib_init() {
    image_lib.image_table = object_table_create(sizeof(ImageRecord), IMAGE_GROW_STEP, image_free);
    image_lib.output_block = static_cast<ImageOutputBlock *>(
        state_block_alloc(sizeof(ImageOutputBlock), nullptr, nullptr));
}

bool image_lib_ready() {
    return object_table_ready(image_lib.image_table) && image_lib.output_block;
}

void image_lib_end() {
    ObjectTable *table = image_lib.image_table;
    if (!table) return;
    object_table_iter_reset(table);
    ObjectNumber number;
    while (object_table_iter_next(table, &number))
        image_free(number);
}

// A paletted DIB reads a full colour table, so the info carries room for 256 entries.
static const int32_t DIB_COLOR_TABLE_ENTRIES = 256;

struct DibInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colors[DIB_COLOR_TABLE_ENTRIES];
};

static HBITMAP make_dib_section(HDC display, int32_t width, int32_t height, int32_t depth) {
    DibInfo info;
    memset(&info, 0, sizeof info);
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = height;
    info.header.biPlanes = 1;
    info.header.biBitCount = WORD(depth);
    info.header.biCompression = BI_RGB;
    void *bits = nullptr;
    return CreateDIBSection(display, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, &bits,
                            nullptr, 0);
}

static HBITMAP image_make_bitmap(int32_t width, int32_t height, int32_t depth, uint8_t flags) {
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (!display) return nullptr;
    HBITMAP bitmap;
    if (flags & IMAGE_FLAG_DISPLAY)
        bitmap = CreateCompatibleBitmap(display, width, height);
    else if (depth > 0 && depth <= UINT16_MAX)
        bitmap = make_dib_section(display, width, height, depth);
    else
        bitmap = nullptr;
    DeleteDC(display);
    return bitmap;
}

static void fill_black(HBITMAP bitmap, int32_t width, int32_t height) {
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return;
    SelectObject(dc, bitmap);
    RECT all = {0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    DeleteDC(dc);
}

intptr_t image_create(ObjectNumber number, int32_t width, int32_t height) {
    return image_create_with_depth(number, width, height, DEPTH_DISPLAY);
}

// A size below 1 is refused before anything changes: the platform would answer it with its
// one shared 1 x 1 bitmap, which every new memory DC starts with and nobody may draw into.
intptr_t image_create_with_depth(ObjectNumber number, int32_t width, int32_t height,
                                 int32_t depth) {
    if (width < 1 || height < 1) return 0;
    ImageRecord *record =
        static_cast<ImageRecord *>(object_table_alloc(image_lib.image_table, number));
    if (!record) return 0;
    uint8_t flags = depth == DEPTH_DISPLAY ? IMAGE_FLAG_DISPLAY : 0;
    HBITMAP bitmap = image_make_bitmap(width, height, depth, flags);
    if (!bitmap) {
        // A dynamic record that never came alive would stay linked for good.
        if (number == ANY_ID) object_table_free(image_lib.image_table, ObjectNumber(record));
        return 0;
    }
    fill_black(bitmap, width, height);
    BITMAP info;
    memset(&info, 0, sizeof info);
    GetObjectA(bitmap, sizeof info, &info);
    record->width = int16_t(uint16_t(uint32_t(info.bmWidth)));
    record->height = int16_t(uint16_t(uint32_t(info.bmHeight)));
    record->depth = uint8_t(info.bmBitsPixel);
    record->flags = flags;
    record->bitmap = bitmap;
    if (number == ANY_ID) return intptr_t(record);
    return intptr_t(bitmap);
}

// A bitmap still selected into the output DC would outlive DeleteObject, so the output
// (and a drawing into it) ends first.
static void release_output_holding(HANDLE bitmap) {
    ImageOutputBlock *block = output_block();
    if (!block || !block->output_dc) return;
    if (GetCurrentObject(block->output_dc, OBJ_BITMAP) != bitmap) return;
    if (drawing_state.dc == block->output_dc) drawing_end();
    image_output_release();
}

void image_free(ObjectNumber number) {
    if (number == ANY_ID) return;
    ImageRecord *record = find_image(number);
    if (!record) return;
    if (GetObjectType(record->bitmap) == OBJ_BITMAP) {
        release_output_holding(record->bitmap);
        DeleteObject(record->bitmap);
    } else {
        DestroyIcon(static_cast<HICON>(record->bitmap));
    }
    object_table_free(image_lib.image_table, number);
}

HANDLE image_handle(ObjectNumber number) {
    ImageRecord *record = find_image(number);
    return record ? record->bitmap : nullptr;
}

int32_t image_width(ObjectNumber number) {
    ImageRecord *record = find_image(number);
    return record ? record->width : 0;
}

int32_t image_height(ObjectNumber number) {
    ImageRecord *record = find_image(number);
    return record ? record->height : 0;
}

// Taking a new output deletes the old DC; a drawing still using it is ended first, so
// it is not left drawing into a deleted DC.
static void end_previous_output(ImageOutputBlock *block) {
    if (block->output_dc && drawing_state.dc == block->output_dc)
        drawing_end();
    else
        image_output_release();
}

const DrawingOutput *image_output(ObjectNumber number) {
    ImageOutputBlock *block = output_block();
    if (!block) return nullptr;
    end_previous_output(block);
    ImageRecord *record = find_image(number);
    if (!record) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
    if (!SelectObject(dc, record->bitmap)) {
        DeleteDC(dc);
        return nullptr;
    }
    block->output_dc = dc;
    memset(&block->output, 0, sizeof block->output);
    block->output.kind = OUTPUT_DC;
    block->output.dc = dc;
    block->output.release = image_output_release;
    return &block->output;
}

void image_output_release() {
    ImageOutputBlock *block = output_block();
    if (!block || !block->output_dc) return;
    DeleteDC(block->output_dc);
    block->output_dc = nullptr;
    // A stale output handed to drawing_begin again then fails instead of drawing nowhere.
    block->output.dc = nullptr;
}
