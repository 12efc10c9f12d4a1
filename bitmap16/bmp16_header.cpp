#include "bmp16_header.h"

#include <string.h>

#include "checked.h"

int bmp16_file_header_valid(const uint8_t *header) {
    uint32_t off_bits = read_le32(header + BF_OFF_BITS);
    if (read_le16(header + BF_TYPE) != BMP_SIGNATURE) return 0;
    if (read_le32(header + BF_SIZE) < off_bits) return 0;
    if (read_le16(header + BF_RESERVED1) != 0) return 0;
    if (read_le16(header + BF_RESERVED2) != 0) return 0;
    if (off_bits < BMP_HEADERS_SIZE) return 0;
    return 1;
}

int bmp16_info_header_valid(const uint8_t *header) {
    if (read_le32(header + BI_SIZE) != BMP_INFO_HEADER_SIZE) return 0;
    if ((int32_t)read_le32(header + BI_WIDTH) <= 0) return 0;
    // Top-down bitmaps store a negative height; only bottom-up ones are read.
    if ((int32_t)read_le32(header + BI_HEIGHT) <= 0) return 0;
    if (read_le16(header + BI_PLANES) != 1) return 0;
    if (read_le16(header + BI_BIT_COUNT) != BMP_INPUT_BITS) return 0;
    if (read_le32(header + BI_COMPRESSION) != BMP_COMPRESSION_BITFIELDS) return 0;
    return 1;
}

int derive_pixel_layout(uint32_t width, uint32_t height, PixelLayout *layout) {
    uint32_t in_bytes, in_stride, out_bytes, out_stride, in_size, out_size;
    if (!checked_mul_u32(width, 2, &in_bytes) || !checked_add_u32(in_bytes, 3, &in_stride))
        return 0;
    in_stride &= ~3u;
    if (!checked_mul_u32(width, 3, &out_bytes)) return 0;
    uint32_t pad = (0u - out_bytes) & 3u;
    if (!checked_add_u32(out_bytes, pad, &out_stride)) return 0;
    if (!checked_mul_u32(in_stride, height, &in_size)) return 0;
    if (!checked_mul_u32(out_stride, height, &out_size)) return 0;
    layout->width = width;
    layout->height = height;
    layout->in_stride = in_stride;
    layout->out_stride = out_stride;
    layout->pad = pad;
    layout->in_size = in_size;
    layout->out_size = out_size;
    return 1;
}

void bmp16_fill_picture_info(const uint8_t *info_header, PictureInfoRecord *record) {
    record->left = 0;
    record->top = 0;
    record->width = (int32_t)read_le32(info_header + BI_WIDTH);
    record->height = (int32_t)read_le32(info_header + BI_HEIGHT);
    record->x_density = 0;
    record->y_density = 0;
    record->colour_depth = (int16_t)read_le16(info_header + BI_BIT_COUNT);
#if UINTPTR_MAX > 0xFFFFFFFFu
    record->padding[0] = 0;
    record->padding[1] = 0;
#endif
    record->info_handle = nullptr;
}

void write_dib_info_header(const uint8_t *info_header, uint32_t image_size, uint8_t *out) {
    memset(out, 0, BMP_INFO_HEADER_SIZE);
    write_le32(out + BI_SIZE, BMP_INFO_HEADER_SIZE);
    memcpy(out + BI_WIDTH, info_header + BI_WIDTH, 4);
    memcpy(out + BI_HEIGHT, info_header + BI_HEIGHT, 4);
    memcpy(out + BI_PLANES, info_header + BI_PLANES, 2);
    write_le16(out + BI_BIT_COUNT, BMP_OUTPUT_BITS);
    // The image size may be 0 for BI_RGB, but hosts that copy exactly
    // biSizeImage bytes out of the pixel block would then show nothing.
    write_le32(out + BI_SIZE_IMAGE, image_size);
    // biCompression stays BMP_COMPRESSION_RGB; resolutions and colour counts stay 0.
}
