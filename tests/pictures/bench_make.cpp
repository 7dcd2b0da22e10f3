// Writes the pictures the picture benchmark needs where no installed package
// ships one: a very large photograph-like JPEG (written row by row, so it
// costs little memory), a camera-sized JPEG, multi-page and fax TIFF, an
// animated GIF, a BMP and a PNG with alpha.
// Usage: picture_bench_make FOLDER [big-width big-height]
#include <cmath>
#include <cstdio>
#include <cstdlib>
// jpeglib.h wants size_t and FILE declared first.
#include <jpeglib.h>
#include <fstream>
#include <string>
#include <vector>

#include "test/fixtures.h"

namespace {

std::uint32_t seed = 1;
int Noise(int amplitude) {
    seed = seed * 1103515245 + 12345;
    return static_cast<int>((seed >> 16) % (2 * amplitude + 1)) - amplitude;
}

// Smooth colour fields with a little grain, as a photograph has.
std::uint8_t Sample(int x, int y, int c, int w, int h) {
    double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
    double v = 128 + 90 * std::sin(6.0 * fx + 2.0 * c) * std::cos(4.0 * fy - c) + 30 * std::sin(40.0 * fx * fy);
    int n = static_cast<int>(v) + Noise(3);
    return static_cast<std::uint8_t>(n < 0 ? 0 : n > 255 ? 255 : n);
}

bool WriteJpeg(const std::string& path, int w, int h, int quality) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.density_unit = 1;
    cinfo.X_density = cinfo.Y_density = 300;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) row[3 * x + c] = Sample(x, y, c, w, h);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
    return true;
}

void Save(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::vector<std::uint8_t> Field(int w, int h, int channels) {
    std::vector<std::uint8_t> v(static_cast<std::size_t>(w) * h * channels);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) v[(static_cast<std::size_t>(y) * w + x) * channels + c] = Sample(x, y, c, w, h);
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [big-width big-height]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    int bigW = argc > 3 ? std::atoi(argv[2]) : 22500, bigH = argc > 3 ? std::atoi(argv[3]) : 33300;
    using namespace images::test;

    if (!WriteJpeg(dir + "/camera.jpg", 4000, 3000, 90)) return 1;
    if (!WriteJpeg(dir + "/huge.jpg", bigW, bigH, 80)) return 1;

    TiffPage page;
    page.width = 1600, page.height = 1200, page.compression = 5, page.dpi = 200;
    page.data = Field(page.width, page.height, 3);
    Save(dir + "/pages.tif", MakeTiff({page, page, page}));

    TiffPage fax;
    fax.bits = 1, fax.samples = 1, fax.photometric = 0, fax.compression = 4, fax.width = 2480, fax.height = 3508, fax.dpi = 300;
    fax.data.assign(static_cast<std::size_t>(fax.width / 8) * fax.height, 0);
    for (int y = 200; y < fax.height - 200; ++y)
        if (y % 40 < 22)  // lines of "text"
            for (int x = 30; x < fax.width / 8 - 30; ++x)
                fax.data[static_cast<std::size_t>(y) * (fax.width / 8) + x] = static_cast<std::uint8_t>((x * 37 + y / 40 * 11) % 7 ? 0x00 : 0x3C) |
                                                                              static_cast<std::uint8_t>(((x + y) % 5 == 0) ? 0x81 : 0);
    Save(dir + "/fax.tif", MakeTiff({fax}));

    std::vector<std::uint8_t> pal;
    for (int i = 0; i < 256; ++i) pal.insert(pal.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i / 2)});
    std::vector<GifFrame> frames;
    for (int f = 0; f < 10; ++f) {
        GifFrame g{f * 20, f * 10, 200, 150, f % 2 ? 2 : 1, 0, false, {}};
        g.pixels.resize(200 * 150);
        for (int i = 0; i < 200 * 150; ++i) g.pixels[i] = static_cast<std::uint8_t>((i / 200 + i % 200 + f * 13) % 256);
        frames.push_back(g);
    }
    frames.insert(frames.begin(), GifFrame{0, 0, 400, 300, 1, -1, false, std::vector<std::uint8_t>(400 * 300, 7)});
    Save(dir + "/anim.gif", MakeGif(400, 300, pal, frames));

    int bw = 1920, bh = 1080;
    std::vector<std::uint8_t> bmp = Field(bw, bh, 3);  // BGR rows bottom-up, no padding needed (1920*3 % 4 == 0)
    Save(dir + "/screen.bmp", MakeBmp(40, bw, bh, 24, 0, {}, bmp, {}, 3780));

    PngSpec alpha;
    alpha.colorType = 6, alpha.width = 800, alpha.height = 600, alpha.rows = Field(800, 600, 4);
    for (std::size_t i = 3; i < alpha.rows.size(); i += 4) alpha.rows[i] = static_cast<std::uint8_t>(i / 4 % 800 * 255 / 799);
    Save(dir + "/alpha.png", MakePng(alpha));
    return 0;
}
