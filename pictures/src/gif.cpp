// GIF: every frame becomes a picture of the whole logical screen as a browser
// shows it at that moment: the frame drawn over what the previous frames left
// (after their disposal), transparent pixels letting the canvas through.
#include <gif_lib.h>
#include <unordered_map>

#include "codecs.h"

namespace images::detail {
namespace {

struct Source {
    std::string_view file;
    std::size_t at = 0;
};

int ReadGif(GifFileType* gif, GifByteType* out, int n) {
    auto* s = static_cast<Source*>(gif->UserData);
    std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(n), s->file.size() - s->at);
    std::memcpy(out, s->file.data() + s->at, k);
    s->at += k;
    return static_cast<int>(k);
}

struct GifCloser {
    void operator()(GifFileType* g) const {
        int err = 0;
        DGifCloseFile(g, &err);
    }
};

// The canvas as RGBA; alpha is 0 or 255.
Raster FromCanvas(const std::vector<std::uint8_t>& rgba, int w, int h) {
    Raster r;
    r.width = w, r.height = h;
    std::size_t n = static_cast<std::size_t>(w) * h;
    bool transparent = false;
    std::unordered_map<std::uint32_t, std::uint8_t> index;
    std::string palette;
    bool fits = true;
    std::uint32_t lastSeen = 0xFFFFFFFF;
    for (std::size_t i = 0; i < n && fits; ++i) {
        if (!rgba[4 * i + 3]) { transparent = true; continue; }
        std::uint32_t c = rgba[4 * i] << 16 | rgba[4 * i + 1] << 8 | rgba[4 * i + 2];
        if (c == lastSeen || index.count(c)) { lastSeen = c; continue; }
        lastSeen = c;
        if (index.size() == 256) { fits = false; break; }
        index.emplace(c, static_cast<std::uint8_t>(index.size()));
        palette += static_cast<char>(rgba[4 * i]), palette += static_cast<char>(rgba[4 * i + 1]),
            palette += static_cast<char>(rgba[4 * i + 2]);
    }
    if (palette.empty()) palette.assign(3, '\xFF');
    if (fits) {
        std::size_t colors = palette.size() / 3;
        r.model = ColorModel::Indexed;
        r.bits = colors <= 2 ? 1 : colors <= 4 ? 2 : colors <= 16 ? 4 : 8;
        r.palette = std::move(palette);
        std::size_t rowBytes = r.RowBytes();
        r.samples.assign(rowBytes * h, 0);
        std::uint32_t lastColor = 0xFFFFFFFF;
        unsigned v = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::size_t i = static_cast<std::size_t>(y) * w + x;
                if (!rgba[4 * i + 3]) continue;
                std::uint32_t color = rgba[4 * i] << 16 | rgba[4 * i + 1] << 8 | rgba[4 * i + 2];
                if (color != lastColor) v = index[color], lastColor = color;  // runs are common
                std::size_t bit = static_cast<std::size_t>(x) * r.bits;
                r.samples[y * rowBytes + bit / 8] |= static_cast<std::uint8_t>(v << (8 - r.bits - bit % 8));
            }
    } else {
        r.model = ColorModel::Rgb;
        r.samples.resize(n * 3);
        for (std::size_t i = 0; i < n; ++i)
            for (int k = 0; k < 3; ++k) r.samples[3 * i + k] = rgba[4 * i + 3] ? rgba[4 * i + k] : 255;
    }
    if (transparent) {
        r.alpha.resize(n);
        for (std::size_t i = 0; i < n; ++i) r.alpha[i] = rgba[4 * i + 3];
    }
    return r;
}

}  // namespace

LoadResult LoadGif(std::string_view file, std::vector<Picture>& out) {
    Source src{file};
    int err = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&src, ReadGif, &err));
    if (!gif) return Fail("damaged GIF file");
    int sw = gif->SWidth, sh = gif->SHeight;
    std::vector<std::uint8_t> canvas, saved;
    std::vector<Picture> frames;
    int disposal = 0, transparentIndex = -1;
    std::uint64_t budget = 1ull << 30;  // pixels of all frames together
    std::string note;

    for (bool done = false; !done;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) { note = "truncated GIF file"; break; }
        if (type == TERMINATE_RECORD_TYPE) break;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) { note = "truncated GIF file"; break; }
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                disposal = (ext[1] >> 2) & 7;
                transparentIndex = ext[1] & 1 ? ext[4] : -1;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) { done = true; note = "truncated GIF file"; break; }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) { note = "truncated GIF file"; break; }
        const GifImageDesc& d = gif->Image;
        if (canvas.empty()) {
            if (sw <= 0 || sh <= 0) sw = d.Left + d.Width, sh = d.Top + d.Height;
            if (!FitsLimit(static_cast<std::uint64_t>(sw), static_cast<std::uint64_t>(sh), 4))
                return Fail("GIF picture too large to decode");
            canvas.assign(static_cast<std::size_t>(sw) * sh * 4, 0);
        }
        std::uint64_t area = static_cast<std::uint64_t>(sw) * sh + static_cast<std::uint64_t>(d.Width) * d.Height;
        if (budget < area) { note = "GIF animation cut after " + std::to_string(frames.size()) + " frames"; break; }
        budget -= area;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        if (disposal == 3) saved = canvas;

        // Lines come in file order; interlaced frames store rows in four passes.
        std::vector<GifPixelType> line(static_cast<std::size_t>(std::max(d.Width, 1)));
        std::vector<int> order;
        if (d.Interlace) {
            static const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = start[pass]; y < d.Height; y += step[pass]) order.push_back(y);
        } else {
            for (int y = 0; y < d.Height; ++y) order.push_back(y);
        }
        bool cut = false;
        for (int row : order) {
            if (DGifGetLine(gif.get(), line.data(), d.Width) == GIF_ERROR) { cut = true; break; }
            int y = d.Top + row;
            if (!map || y < 0 || y >= sh) continue;
            for (int x = 0; x < d.Width; ++x) {
                int cx = d.Left + x;
                int v = line[x];
                if (cx < 0 || cx >= sw || v == transparentIndex || v >= map->ColorCount) continue;
                std::uint8_t* px = &canvas[(static_cast<std::size_t>(y) * sw + cx) * 4];
                px[0] = map->Colors[v].Red, px[1] = map->Colors[v].Green, px[2] = map->Colors[v].Blue, px[3] = 255;
            }
        }
        Picture p;
        p.format = Format::Gif;
        p.width = sw, p.height = sh;
        p.image = EncodeRaster(FromCanvas(canvas, sw, sh));
        frames.push_back(std::move(p));
        if (cut) { note = "truncated GIF file"; break; }

        if (disposal == 2) {
            for (int y = std::max(0, d.Top); y < std::min(sh, d.Top + d.Height); ++y)
                for (int x = std::max(0, d.Left); x < std::min(sw, d.Left + d.Width); ++x)
                    std::memset(&canvas[(static_cast<std::size_t>(y) * sw + x) * 4], 0, 4);
        } else if (disposal == 3) {
            canvas.swap(saved);
        }
        disposal = 0, transparentIndex = -1;
    }
    if (frames.empty()) return Fail(note.empty() ? "GIF file without pictures" : "damaged GIF file");
    if (!note.empty()) frames.back().note = note;
    for (auto& f : frames) out.push_back(std::move(f));
    return Ok();
}

}  // namespace images::detail
