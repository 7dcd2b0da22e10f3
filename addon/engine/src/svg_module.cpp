// libvm_svg.so: SVG pictures drawn through librsvg and cairo, opened by the
// engine the first time a page shows an SVG picture.
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "emf/device.h"
#include "optional_modules.h"

extern "C" __attribute__((visibility("default"))) std::uint32_t VmModuleAbiVersion() {
    return htmlengine::kModuleAbiVersion;
}

// Renders at the document's own size (300 x 150 when it names none, as
// browsers do) into straight RGBA. External references are not followed: the
// document comes from memory with no base.
extern "C" __attribute__((visibility("default"))) bool VmRenderSvg(const char* data, std::size_t size,
                                                                   std::size_t maxPixels, emf::Image* out,
                                                                   htmlengine::SvgBoxQuery* query) {
    GError* error = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(data), size, &error);
    if (!handle) {
        if (error) g_error_free(error);
        return false;
    }
    gdouble fw = 300, fh = 150;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &fw, &fh) || !(fw >= 1) || !(fh >= 1)) fw = 300, fh = 150;
    const double kMaxSide = 8192;
    if (fw > kMaxSide || fh > kMaxSide || fw * fh > static_cast<double>(maxPixels)) {
        g_object_unref(handle);
        return false;
    }
    const int w = static_cast<int>(std::ceil(fw)), h = static_cast<int>(std::ceil(fh));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    RsvgRectangle viewport{0, 0, static_cast<double>(w), static_cast<double>(h)};
    const bool ok = rsvg_handle_render_document(handle, cr, &viewport, &error);
    if (error) g_error_free(error), error = nullptr;
    if (ok && query && query->ids && query->boxes) {
        const char* id = query->ids;
        for (std::size_t k = 0; k < query->count; ++k, id += std::strlen(id) + 1) {
            double* box = query->boxes + 4 * k;
            std::fill(box, box + 4, std::nan(""));
            const std::string ref = std::string("#") + id;
            RsvgRectangle ink, logical;
            if (rsvg_handle_get_geometry_for_layer(handle, ref.c_str(), &viewport, &ink, &logical, &error))
                box[0] = logical.x, box[1] = logical.y, box[2] = logical.width, box[3] = logical.height;
            if (error) g_error_free(error), error = nullptr;
        }
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    bool drawn = false;
    if (ok && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
        emf::Image& image = *out;
        image = {};
        image.format = emf::Image::Format::Rgba8;
        image.components = 4;
        image.width = w, image.height = h;
        image.pixels.resize(static_cast<std::size_t>(w) * h * 4);
        const unsigned char* px0 = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                std::uint32_t argb;  // native-endian, premultiplied
                std::memcpy(&argb, px0 + static_cast<std::size_t>(y) * stride + x * 4, 4);
                const unsigned a = argb >> 24;
                auto straight = [a](unsigned c) { return a ? static_cast<std::uint8_t>(std::min(255u, (c * 255 + a / 2) / a)) : 0; };
                std::uint8_t* px = &image.pixels[(static_cast<std::size_t>(y) * w + x) * 4];
                px[0] = straight((argb >> 16) & 0xFF), px[1] = straight((argb >> 8) & 0xFF), px[2] = straight(argb & 0xFF);
                px[3] = static_cast<std::uint8_t>(a);
            }
        }
        drawn = true;
    }
    cairo_surface_destroy(surface);
    g_object_unref(handle);
    return drawn;
}
