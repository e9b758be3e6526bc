#pragma once
// Shared by the image tests.
#include "runtime/image/image_private.h"
#include <string.h>

// An image whose handle is an icon, as only libraries outside this program make them;
// answers the icon, or null when the icon or the record cannot be made.
inline HICON icon_image(ObjectNumber number) {
    const int side = 32;
    BYTE and_mask[side * side / 8], xor_mask[side * side / 8] = {};
    memset(and_mask, 0xFF, sizeof and_mask);
    HICON icon = CreateIcon(GetModuleHandleA(nullptr), side, side, 1, 1, and_mask, xor_mask);
    auto *record =
        static_cast<ImageRecord *>(object_table_alloc(image_library().image_table, number));
    if (!icon || !record) return nullptr;
    record->bitmap = icon;
    return icon;
}
