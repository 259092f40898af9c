// SPDX-License-Identifier: MIT

// The floor a thumbnailer can hope for: a bare libjpeg program that, for each file, decodes
// at the largest DCT reduction still covering the thumbnail, shrinks with a box filter and
// encodes at quality p. Nothing else: no scratch files, no checks. The files are shared out
// over all cores.
//
//   jpeg-floor PERCENT OUTDIR FILE...

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio> // before jpeglib.h, which needs FILE and size_t
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <string>
#include <thread>
#include <vector>

namespace {

bool convertOne(const char* path, const std::string& outPath, int percent)
{
    FILE* in = std::fopen(path, "rb");
    if (!in)
        return false;
    jpeg_decompress_struct d;
    jpeg_error_mgr derr;
    d.err = jpeg_std_error(&derr);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, in);
    jpeg_read_header(&d, TRUE);
    const float f = percent / 100.0f;
    const int W = std::max(1, int(std::nearbyint(double(d.image_width) * f)));
    const int H = std::max(1, int(std::nearbyint(double(d.image_height) * f)));
    int denom = 8;
    while (denom > 1
        && (int((d.image_width + denom - 1) / denom) < W
            || int((d.image_height + denom - 1) / denom) < H))
        denom /= 2;
    d.scale_num = 1;
    d.scale_denom = denom;
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    const int sw = d.output_width, sh = d.output_height;
    std::vector<unsigned char> src(size_t(sw) * sh * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &src[size_t(d.output_scanline) * sw * 3];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(in);

    std::vector<unsigned char> dst(size_t(W) * H * 3);
    for (int y = 0; y < H; ++y) {
        const int y0 = int(int64_t(y) * sh / H),
                  y1 = std::max(y0 + 1, int(int64_t(y + 1) * sh / H));
        for (int x = 0; x < W; ++x) {
            const int x0 = int(int64_t(x) * sw / W),
                      x1 = std::max(x0 + 1, int(int64_t(x + 1) * sw / W));
            unsigned sum[3] = { 0, 0, 0 };
            for (int yy = y0; yy < y1; ++yy) {
                const unsigned char* p = &src[(size_t(yy) * sw + x0) * 3];
                for (int xx = x0; xx < x1; ++xx, p += 3) {
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                }
            }
            const unsigned n = unsigned((y1 - y0) * (x1 - x0));
            for (int c = 0; c < 3; ++c)
                dst[(size_t(y) * W + x) * 3 + c] = (unsigned char)((sum[c] + n / 2) / n);
        }
    }

    FILE* out = std::fopen(outPath.c_str(), "wb");
    if (!out)
        return false;
    jpeg_compress_struct c;
    jpeg_error_mgr cerr;
    c.err = jpeg_std_error(&cerr);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, out);
    c.image_width = W;
    c.image_height = H;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, percent, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &dst[size_t(c.next_scanline) * W * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: jpeg-floor PERCENT OUTDIR FILE...\n");
        return 2;
    }
    const int percent = std::atoi(argv[1]);
    const std::string outDir = argv[2];
    std::atomic<int> next { 3 };
    std::atomic<bool> ok { true };
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (int i = next++; i < argc; i = next++) {
                std::string name = argv[i];
                name = name.substr(name.find_last_of('/') + 1);
                if (!convertOne(argv[i], outDir + "/t" + name, percent))
                    ok = false;
            }
        });
    for (auto& t : pool)
        t.join();
    return ok ? 0 : 1;
}
