#include "JpegEncoder.h"

#include <QtEndian>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// jpeglib.h expects FILE and size_t to be declared first.
#include <jpeglib.h>

namespace tarvo {

namespace {
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void silent(j_common_ptr, int) {}
} // namespace

QByteArray JpegEncoder::encode(const std::uint32_t* pixels, int width, int height, qsizetype stride) {
    if (!pixels || width <= 0 || height <= 0 || stride < qsizetype(width) * 4)
        return {};
    jpeg_compress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.emit_message = silent;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    // Nothing with a destructor may live between setjmp and the calls that can jump back.
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        std::free(out);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 4;
    // A native 0xffRRGGBB word is B, G, R, X in memory on little-endian machines.
    info.in_color_space = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    const auto* base = reinterpret_cast<const unsigned char*>(pixels);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(base + static_cast<qsizetype>(info.next_scanline) * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray result(reinterpret_cast<const char*>(out), static_cast<qsizetype>(outSize));
    std::free(out);
    return result;
}

} // namespace tarvo
