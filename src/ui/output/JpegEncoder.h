#pragma once

#include <QByteArray>
#include <cstdint>

namespace tarvo {

// JPEG from raw pixels through the libjpeg API at the library's default quality, so the core needs no
// picture classes. Pixels are 32-bit words 0xffRRGGBB in native byte order (what a Qt RGB32 image
// holds), rows `stride` bytes apart.
class JpegEncoder {
public:
    // Empty on failure (zero size, or the library refused).
    static QByteArray encode(const std::uint32_t* pixels, int width, int height, qsizetype stride);
};

} // namespace tarvo
