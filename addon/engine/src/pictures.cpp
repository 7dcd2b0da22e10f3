#include "pictures.h"

#include <png.h>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>

namespace htmlengine {
namespace {

struct PngReader {
    std::string_view data;
    std::size_t pos = 0;
};

void PngRead(png_structp png, png_bytep out, png_size_t n) {
    auto* r = static_cast<PngReader*>(png_get_io_ptr(png));
    if (n > r->data.size() - r->pos) png_error(png, "truncated");
    std::memcpy(out, r->data.data() + r->pos, n);
    r->pos += n;
}

std::shared_ptr<emf::Image> DecodePng(std::string_view bytes, std::size_t maxPixels) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, [](png_structp p, png_const_charp) { longjmp(png_jmpbuf(p), 1); }, [](png_structp, png_const_charp) {});
    if (!png) return nullptr;
    png_infop info = png_create_info_struct(png);
    PngReader reader{bytes, 0};
    auto image = std::make_shared<emf::Image>();
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return nullptr;
    }
    png_set_read_fn(png, &reader, PngRead);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    if (w == 0 || h == 0 || static_cast<std::size_t>(w) * h > maxPixels) png_error(png, "size");
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    image->format = emf::Image::Format::Rgba8;
    image->components = 4;
    image->width = static_cast<int>(w), image->height = static_cast<int>(h);
    image->pixels.resize(static_cast<std::size_t>(w) * h * 4);
    rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = image->pixels.data() + static_cast<std::size_t>(y) * w * 4;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

std::shared_ptr<emf::Image> DecodeJpeg(std::string_view bytes, std::size_t maxPixels) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = [](j_common_ptr c) { longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
    err.mgr.output_message = [](j_common_ptr) {};
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    if (static_cast<std::size_t>(cinfo.image_width) * cinfo.image_height > maxPixels || cinfo.image_width == 0) {
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    auto image = std::make_shared<emf::Image>();
    image->format = emf::Image::Format::Jpeg;
    image->width = static_cast<int>(cinfo.image_width);
    image->height = static_cast<int>(cinfo.image_height);
    image->components = cinfo.num_components;
    image->encoded.assign(bytes.begin(), bytes.end());
    // Also decoded, so devices that cannot embed JPEG data can still draw it.
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    std::vector<std::uint8_t> px(static_cast<std::size_t>(cinfo.output_width) * cinfo.output_height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = px.data() + static_cast<std::size_t>(cinfo.output_scanline) * cinfo.output_width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    image->format = emf::Image::Format::Rgb8;
    image->components = 3;
    image->pixels = std::move(px);
    image->encoded.clear();
    return image;
}

}  // namespace

std::shared_ptr<emf::Image> DecodePicture(std::string_view bytes, std::size_t maxPixels) {
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0) return DecodePng(bytes, maxPixels);
    if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xFF\xD8\xFF", 3) == 0) return DecodeJpeg(bytes, maxPixels);
    return nullptr;
}

}  // namespace htmlengine
