// PNG: a plain (non-interlaced, opaque) file passes its compressed data into
// the PDF unchanged, since PDF's Flate with PNG predictors is the same coding;
// the data is inflated once to make sure it is whole. Interlaced files and
// files with transparency are decoded by libpng and compressed anew, with the
// alpha as a soft mask.
#include <csetjmp>
#include <memory>

#include <libdeflate.h>
#include <png.h>

#include "codecs.h"

namespace images::detail {
namespace {

struct Chunks {
    std::uint32_t width = 0, height = 0;
    int depth = 0, colorType = -1, interlace = 0;
    std::string_view plte;
    bool trns = false;
    std::string icc;
    double dpiX = 96, dpiY = 96;
    std::string idat;
};

bool ReadChunks(std::string_view file, Chunks& c) {
    Bytes b{file};
    std::size_t at = 8;
    bool header = false;
    while (b.Has(at, 8)) {
        std::uint32_t len = b.Be32(at);
        std::string_view type = file.substr(at + 4, 4);
        if (!b.Has(at + 8, len)) {
            // A cut-off last chunk: keep what is there of image data.
            if (type == "IDAT") c.idat.append(file.substr(at + 8));
            break;
        }
        std::string_view data = file.substr(at + 8, len);
        Bytes d{data};
        if (type == "IHDR" && len >= 13) {
            c.width = d.Be32(0), c.height = d.Be32(4);
            c.depth = d.U8(8), c.colorType = d.U8(9), c.interlace = d.U8(12);
            header = true;
        } else if (type == "PLTE") {
            c.plte = data;
        } else if (type == "tRNS") {
            c.trns = true;
        } else if (type == "iCCP") {
            std::size_t nul = data.find('\0');
            if (nul != std::string_view::npos && nul + 2 <= data.size())
                if (!Inflate(data.substr(nul + 2), c.icc, 64u << 20)) c.icc.clear();
        } else if (type == "pHYs" && len >= 9 && d.U8(8) == 1) {
            c.dpiX = SaneDpi(d.Be32(0) * 0.0254), c.dpiY = SaneDpi(d.Be32(4) * 0.0254);
        } else if (type == "IDAT") {
            c.idat.append(data);
        } else if (type == "IEND") {
            break;
        }
        at += 12 + static_cast<std::size_t>(len);
    }
    return header;
}

int Channels(int colorType) {
    switch (colorType) {
        case 0: case 3: return 1;
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
    }
    return 0;
}

bool ValidIhdr(const Chunks& c) {
    int d = c.depth;
    switch (c.colorType) {
        case 0: return d == 1 || d == 2 || d == 4 || d == 8 || d == 16;
        case 3: return d == 1 || d == 2 || d == 4 || d == 8;
        case 2: case 4: case 6: return d == 8 || d == 16;
    }
    return false;
}

// The file's own palette, padded with black to every index the depth allows,
// so that no index can point past it.
std::string Palette(std::string_view plte, int depth) {
    std::size_t entries = std::min<std::size_t>(plte.size() / 3, 256);
    std::string p(plte.substr(0, entries * 3));
    std::size_t want = std::size_t{1} << std::min(depth, 8);
    if (entries < want) p.resize(want * 3, '\0');
    return p;
}

bool TryPassThrough(const Chunks& c, Picture& p) {
    if (c.interlace != 0 || c.trns || c.colorType == 4 || c.colorType == 6) return false;
    if (c.colorType == 3 && c.plte.size() < 3) return false;
    int ch = Channels(c.colorType);
    std::uint64_t rowBytes = (static_cast<std::uint64_t>(c.width) * ch * c.depth + 7) / 8;
    std::uint64_t need = (rowBytes + 1) * c.height;
    if (need > kMaxDecodedBytes) return false;
    // The data must inflate to exactly the rows, in one go (what follows the
    // stream is not read); libdeflate does that several times faster than a
    // streaming inflate, which matters for the large pictures of printed pages.
    struct FreeDecompressor {
        void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
    };
    thread_local std::unique_ptr<libdeflate_decompressor, FreeDecompressor> inflater(libdeflate_alloc_decompressor());
    if (!inflater) return false;
    std::string raw(static_cast<std::size_t>(need), '\0');
    std::size_t in = 0, got = 0;
    if (libdeflate_zlib_decompress_ex(inflater.get(), c.idat.data(), c.idat.size(), raw.data(), raw.size(), &in,
                                      &got) != LIBDEFLATE_SUCCESS ||
        got != need)
        return false;
    for (std::uint64_t y = 0; y < c.height; ++y)
        if (static_cast<unsigned char>(raw[y * (rowBytes + 1)]) > 4) return false;

    PdfImage& im = p.image;
    im.data = c.idat;
    im.filter = "FlateDecode";
    im.width = static_cast<int>(c.width), im.height = static_cast<int>(c.height);
    im.bitsPerComponent = c.depth;
    im.model = c.colorType == 0 ? ColorModel::Gray : c.colorType == 2 ? ColorModel::Rgb : ColorModel::Indexed;
    if (im.model == ColorModel::Indexed) im.palette = Palette(c.plte, c.depth);
    else im.iccProfile = c.icc;
    im.decodeParms = "<< /Predictor 15 /Colors " + std::to_string(ch) + " /BitsPerComponent " +
                     std::to_string(c.depth) + " /Columns " + std::to_string(c.width) + " >>";
    return true;
}

struct ReadState {
    std::string_view file;
    std::size_t at = 8;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t n) {
    auto* s = static_cast<ReadState*>(png_get_io_ptr(png));
    if (s->file.size() - s->at < n) png_error(png, "truncated PNG file");
    std::memcpy(out, s->file.data() + s->at, n);
    s->at += n;
}

void Silent(png_structp, png_const_charp) {}
void Fatal(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Decodes with libpng; `r` gets colour (and alpha) samples. Returns the number
// of rows read, or -1 when nothing could be read.
int Decode(std::string_view file, Raster& r, std::vector<std::uint8_t>& buf, std::vector<std::uint8_t>& alphaTable) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Fatal, Silent);
    if (!png) return -1;
    png_infop info = png_create_info_struct(png);
    ReadState state{file};
    volatile int rows = -1;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return rows;
    }
    png_set_user_limits(png, 1u << 30, 1u << 30);
    png_set_chunk_malloc_max(png, 64u << 20);
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_read_fn(png, &state, ReadFromMemory);
    png_set_sig_bytes(png, 8);
    state.at = 8;
    png_read_info(png, info);
    int colorType = png_get_color_type(png, info), depth = png_get_bit_depth(png, info);
    bool trns = png_get_valid(png, info, PNG_INFO_tRNS);
    bool indexed = colorType == PNG_COLOR_TYPE_PALETTE;
    if (!indexed && trns) png_set_tRNS_to_alpha(png);
    if (!indexed && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    int channels = png_get_channels(png, info);
    int bits = png_get_bit_depth(png, info);
    std::size_t rowBytes = png_get_rowbytes(png, info);
    std::uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    if (!FitsLimit(w, h, static_cast<std::uint64_t>(channels) * (bits == 16 ? 2 : 1))) png_longjmp(png, 1);
    // Rows are added as they decode, so a header that claims far more rows
    // than the file holds costs no more than the rows that are there.
    if (passes > 1) buf.assign(rowBytes * h, 0);
    r.width = static_cast<int>(w), r.height = static_cast<int>(h), r.bits = bits;

    r.model = indexed ? ColorModel::Indexed : channels >= 3 ? ColorModel::Rgb : ColorModel::Gray;
    if (indexed && trns) {
        png_bytep t = nullptr;
        int nt = 0;
        png_get_tRNS(png, info, &t, &nt, nullptr);
        alphaTable.assign(256, 255);
        for (int i = 0; i < nt && i < 256; ++i) alphaTable[i] = t[i];
    }
    rows = 0;
    for (int pass = 0; pass < passes; ++pass)
        for (std::uint32_t y = 0; y < h; ++y) {
            if (passes == 1) buf.resize(rowBytes * (y + 1));
            png_read_row(png, buf.data() + y * rowBytes, nullptr);
            if (pass == passes - 1) rows = static_cast<int>(y + 1);
        }
    png_destroy_read_struct(&png, &info, nullptr);
    return rows;
}

}  // namespace

LoadResult LoadPng(std::string_view file, std::vector<Picture>& out) {
    Chunks c;
    if (!ReadChunks(file, c) || !ValidIhdr(c) || c.width == 0 || c.height == 0 || c.width > (1u << 30) ||
        c.height > (1u << 30))
        return Fail("damaged PNG file (bad header)");
    Picture p;
    p.format = Format::Png;
    p.dpiX = c.dpiX, p.dpiY = c.dpiY;
    p.width = static_cast<int>(c.width), p.height = static_cast<int>(c.height);
    if (TryPassThrough(c, p)) {
        out.push_back(std::move(p));
        return Ok();
    }
    int ch = Channels(c.colorType) + (c.trns && c.colorType != 3 ? 1 : 0);
    if (!FitsLimit(c.width, c.height, static_cast<std::uint64_t>(ch) * (c.depth == 16 ? 2 : 1)))
        return Fail("PNG picture too large to decode");

    Raster r;
    std::vector<std::uint8_t> buf, alphaTable;
    int rows = Decode(file, r, buf, alphaTable);
    if (rows <= 0) return Fail("damaged PNG file");
    if (rows < r.height) {  // keep the rows that decoded
        p.note = "truncated PNG file: " + std::to_string(rows) + " of " + std::to_string(r.height) + " rows";
        buf.resize(buf.size() / r.height * rows);
        r.height = rows;
        p.height = rows;
    }

    if (!alphaTable.empty()) {  // palette transparency
        std::size_t rowBytes = buf.size() / r.height;
        r.alpha.resize(static_cast<std::size_t>(r.width) * r.height);
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x) {
                std::size_t bit = static_cast<std::size_t>(x) * r.bits;
                unsigned v = buf[y * rowBytes + bit / 8];
                v = (v >> (8 - r.bits - bit % 8)) & ((1u << r.bits) - 1);
                r.alpha[static_cast<std::size_t>(y) * r.width + x] = alphaTable[v];
            }
        r.alphaBits = 8;
    }
    int colorCh = r.model == ColorModel::Rgb ? 3 : 1;
    bool hasAlpha = r.model != ColorModel::Indexed &&
                    buf.size() == static_cast<std::size_t>(r.width) * r.height * (colorCh + 1) * (r.bits / 8);
    if (hasAlpha) {
        std::size_t bytes = r.bits / 8, px = static_cast<std::size_t>(r.width) * r.height;
        r.samples.resize(px * colorCh * bytes);
        r.alpha.resize(px * bytes);
        r.alphaBits = r.bits;
        for (std::size_t i = 0; i < px; ++i) {
            const std::uint8_t* s = buf.data() + i * (colorCh + 1) * bytes;
            std::memcpy(&r.samples[i * colorCh * bytes], s, colorCh * bytes);
            std::memcpy(&r.alpha[i * bytes], s + colorCh * bytes, bytes);
        }
        buf = {};
    } else {
        r.samples = std::move(buf);
    }
    if (r.model == ColorModel::Indexed) r.palette = Palette(c.plte, r.bits);
    else r.icc = c.icc;
    p.image = EncodeRaster(std::move(r));
    out.push_back(std::move(p));
    return Ok();
}

}  // namespace images::detail
