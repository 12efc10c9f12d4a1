#include "stb_reference.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#include <stb_image.h>

bool stb_reference_rows(const uint8_t *data, size_t size, int32_t *width, int32_t *height, Bytes *rows) {
    int w = 0, h = 0, n = 0;
    if (size > 0x7FFFFFFF) return false;
    unsigned char *rgb = stbi_load_from_memory(data, (int)size, &w, &h, &n, 3);
    if (!rgb) return false;
    size_t stride = ((size_t)w * 3 + 3) & ~(size_t)3;
    rows->assign(stride * (size_t)h, 0);
    // stb gives top-down RGB rows, the DIB bottom-up BGR rows.
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) {
            const uint8_t *s = rgb + ((size_t)row * w + col) * 3;
            uint8_t *d = rows->data() + (size_t)(h - 1 - row) * stride + (size_t)col * 3;
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    stbi_image_free(rgb);
    *width = w;
    *height = h;
    return true;
}
