// A decoder we did not write: stb_image (Debian's libstb-dev) reads a bitmap,
// and its pixels are laid out as the plug-in's 24-bit DIB holds them, for a
// byte-for-byte comparison.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "test_bytes.h"

// The bottom-up BGR rows, each padded to 4 bytes, of the file of `size` bytes
// at `data` as stb_image decodes it to RGB; false when stb_image refuses it.
bool stb_reference_rows(const uint8_t *data, size_t size, int32_t *width, int32_t *height, Bytes *rows);
