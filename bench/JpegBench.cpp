// JPEG of a 1920x1080 scope picture, against libjpeg called directly on the same buffer.
#include "ui/output/JpegEncoder.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

using namespace tarvo;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A scope-like picture: dark plot, dotted grid, five traces.
const std::vector<std::uint32_t>& picture() {
    static const std::vector<std::uint32_t> pixels = [] {
        std::vector<std::uint32_t> p(std::size_t(kWidth) * kHeight, 0xff000000u);
        for (int y = 0; y < kHeight; y += 100)
            for (int x = 0; x < kWidth; x += 2)
                p[std::size_t(y) * kWidth + x] = 0xff808080u;
        for (int x = 0; x < kWidth; x += 160)
            for (int y = 0; y < kHeight; y += 2)
                p[std::size_t(y) * kWidth + x] = 0xff808080u;
        const std::uint32_t colours[5] = {0xffffff00u, 0xffff0000u, 0xff0000ffu, 0xff00ff00u, 0xffff00ffu};
        for (int s = 0; s < 5; ++s)
            for (int x = 0; x < kWidth; ++x) {
                const int y = 540 + static_cast<int>(300 * std::sin(x / (80.0 + 20 * s)));
                for (int d = -3; d <= 3; ++d)
                    p[std::size_t(y + d) * kWidth + x] = colours[s];
            }
        return p;
    }();
    return pixels;
}

void BM_JpegEncoder(benchmark::State& state) {
    const auto& p = picture();
    for (auto _ : state) {
        QByteArray bytes = JpegEncoder::encode(p.data(), kWidth, kHeight, kWidth * 4);
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_JpegEncoder)->Unit(benchmark::kMillisecond);

void BM_JpegLibjpegDirectBaseline(benchmark::State& state) {
    const auto& p = picture();
    for (auto _ : state) {
        jpeg_compress_struct info{};
        jpeg_error_mgr errors{};
        info.err = jpeg_std_error(&errors);
        jpeg_create_compress(&info);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&info, &out, &size);
        info.image_width = kWidth;
        info.image_height = kHeight;
        info.input_components = 4;
        info.in_color_space = JCS_EXT_BGRX;
        jpeg_set_defaults(&info);
        jpeg_start_compress(&info, TRUE);
        const auto* base = reinterpret_cast<const unsigned char*>(p.data());
        while (info.next_scanline < info.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(base + std::size_t(info.next_scanline) * kWidth * 4);
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
}
BENCHMARK(BM_JpegLibjpegDirectBaseline)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
