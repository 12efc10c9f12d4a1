// The image plug-in's exports: 16-bit bit-field bitmaps in, 24-bit DIBs out.
#include <stdint.h>

#include "bmp16_convert.h"
#include "bmp16_header.h"
#include "checked.h"
#include "pellimor_info.h"
#include "plugin_info.h"
#include "bmp16_source.h"

namespace {

const char *const PELLIMOR_INFO[] = {
    "00IN",
    PELLIMOR_DESCRIPTION,
    "*.BMP",
    "Windows Bitmap (64k Color)",
    nullptr,
};

// Reads the file header and the information header into `headers` and checks
// both. Never inlined: one copy serves the three callers.
__attribute__((noinline)) int bmp16_read_headers(SourceStream *s, uint8_t *headers) {
    if (!source_read(s, headers, BMP_FILE_HEADER_SIZE)) return 0;
    if (!bmp16_file_header_valid(headers)) {
        source_fail(s, RESULT_UNKNOWN_FORMAT, 0);
        return 0;
    }
    uint8_t *info_header = headers + BMP_FILE_HEADER_SIZE;
    if (!source_read(s, info_header, BMP_INFO_HEADER_SIZE)) return 0;
    if (!bmp16_info_header_valid(info_header)) {
        source_fail(s, RESULT_UNKNOWN_FORMAT, 0);
        return 0;
    }
    return 1;
}

// The file name is not looked at: the probe alone decides.
int32_t bmp16_is_supported(void *probe) {
    SourceStream s;
    uint8_t headers[BMP_HEADERS_SIZE];
    int32_t answer = 0;
    if (source_open_probe(&s, probe) && bmp16_read_headers(&s, headers)) answer = 1;
    // A lent handle left at another position is a failure like any other.
    if (!source_close(&s)) answer = 0;
    return answer;
}

int32_t bmp16_get_picture_info(HostInput buf, LONG_PTR len, uint32_t flag,
                               PictureInfoRecord *info) {
    // Without a record to fill there is nothing to answer with.
    if (!info) return RESULT_INTERNAL_ERROR;
    SourceStream s;
    uint8_t headers[BMP_HEADERS_SIZE];
    if (source_open(&s, buf, len, flag) && bmp16_read_headers(&s, headers))
        bmp16_fill_picture_info(headers + BMP_FILE_HEADER_SIZE, info);
    source_close(&s);
    return s.code;
}

int32_t bmp16_get_picture(HostInput buf, LONG_PTR len, uint32_t flag, HLOCAL *info, HLOCAL *bits,
                          ProgressCallback progress, LONG_PTR user) {
    SourceStream s;
    uint8_t headers[BMP_HEADERS_SIZE];
    uint8_t masks[BMP_MASKS_SIZE];
    const uint8_t *info_header = headers + BMP_FILE_HEADER_SIZE;
    void *pixel_data = nullptr;
    void *info_data = nullptr;
    uint32_t off_bits = 0;
    PixelLayout layout;
    ChannelScale red, green, blue;
    PixelLanes lanes;

    // Both variables are null on every failure, one missing among them too;
    // without both, no picture can be handed over.
    if (bits) *bits = nullptr;
    if (info) *info = nullptr;
    if (!info || !bits) return RESULT_INTERNAL_ERROR;
    if (!source_open(&s, buf, len, flag)) goto done;
    if (!bmp16_read_headers(&s, headers)) goto done;
    if (!source_read(&s, masks, BMP_MASKS_SIZE)) goto done;
    if (!derive_pixel_layout(read_le32(info_header + BI_WIDTH), read_le32(info_header + BI_HEIGHT),
                             &layout)) {
        source_fail(&s, RESULT_NO_MEMORY, ERROR_NOT_ENOUGH_MEMORY);
        goto done;
    }
    // Rows start right after the masks, or at bfOffBits when that lies further
    // on: a colour table or a gap may sit between.
    off_bits = read_le32(headers + BF_OFF_BITS);
    if (off_bits > BMP_PIXELS_AFTER_MASKS && !source_skip_to(&s, off_bits)) goto done;

    if (!block_alloc(&s, info, &info_data, read_le32(info_header + BI_SIZE))) goto done;
    write_dib_info_header(info_header, layout.out_size, (uint8_t *)info_data);
    if (!block_alloc(&s, bits, &pixel_data, layout.out_size)) goto done;
    // The input rows go to the end of the output block and are converted
    // forward in place; what the source lacks reads as zeros, which is black.
    if (!source_read_tail(&s, pixel_data, layout.out_size, layout.in_size)) goto done;

    red = derive_channel_scale(read_le32(masks + BMP_RED_MASK));
    green = derive_channel_scale(read_le32(masks + BMP_GREEN_MASK));
    blue = derive_channel_scale(read_le32(masks + BMP_BLUE_MASK));
    derive_pixel_lanes(&red, &green, &blue, &lanes);
    if (!convert_picture((uint8_t *)pixel_data, &layout, &lanes, convert_path_for(&layout), progress,
                         user)) {
        source_fail(&s, RESULT_CANCELLED, 0);
        goto done;
    }

    LocalUnlock(*bits);
    pixel_data = nullptr;
    LocalUnlock(*info);
    info_data = nullptr;

done:
    if (pixel_data) block_release(bits);
    if (info_data) block_release(info);
    source_close(&s);
    return s.code;
}

}  // namespace

SPI_EXPORT int32_t WINAPI GetPluginInfo(int32_t infono, char *buf, int32_t buflen) {
    return plugin_info_copy(PELLIMOR_INFO, infono, buf, buflen, 0);
}

SPI_EXPORT int32_t WINAPI GetPluginInfoW(int32_t infono, char16_t *buf, int32_t buflen) {
    return plugin_info_copy(PELLIMOR_INFO, infono, buf, buflen, 1);
}

SPI_EXPORT int32_t WINAPI IsSupported(const char *filename, void *probe) {
    (void)filename;
    return bmp16_is_supported(probe);
}

SPI_EXPORT int32_t WINAPI IsSupportedW(const char16_t *filename, void *probe) {
    (void)filename;
    return bmp16_is_supported(probe);
}

SPI_EXPORT int32_t WINAPI GetPictureInfo(const char *buf, LONG_PTR len, uint32_t flag,
                                         PictureInfoRecord *info) {
    return bmp16_get_picture_info(host_input_narrow(buf), len, flag, info);
}

SPI_EXPORT int32_t WINAPI GetPictureInfoW(const char16_t *buf, LONG_PTR len, uint32_t flag,
                                          PictureInfoRecord *info) {
    return bmp16_get_picture_info(host_input_wide(buf), len, flag, info);
}

// No preview is offered, whatever the arguments.
SPI_EXPORT int32_t WINAPI GetPreview(const char *, LONG_PTR, uint32_t, HLOCAL *, HLOCAL *,
                                     ProgressCallback, LONG_PTR) {
    return RESULT_NOT_SUPPORTED;
}

SPI_EXPORT int32_t WINAPI GetPreviewW(const char16_t *, LONG_PTR, uint32_t, HLOCAL *, HLOCAL *,
                                      ProgressCallback, LONG_PTR) {
    return RESULT_NOT_SUPPORTED;
}

SPI_EXPORT int32_t WINAPI GetPicture(const char *buf, LONG_PTR len, uint32_t flag, HLOCAL *info,
                                     HLOCAL *bits, ProgressCallback progress, LONG_PTR user) {
    return bmp16_get_picture(host_input_narrow(buf), len, flag, info, bits, progress, user);
}

SPI_EXPORT int32_t WINAPI GetPictureW(const char16_t *buf, LONG_PTR len, uint32_t flag,
                                      HLOCAL *info, HLOCAL *bits, ProgressCallback progress,
                                      LONG_PTR user) {
    return bmp16_get_picture(host_input_wide(buf), len, flag, info, bits, progress, user);
}
