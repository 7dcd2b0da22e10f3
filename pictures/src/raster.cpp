#include <cstdlib>
#include <zlib.h>

#include "codecs.h"

namespace images::detail {

namespace {

std::string DeflateWith(const std::uint8_t* data, std::size_t size, int strategy, int level = 9) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 15, 9, strategy);
    std::string out(deflateBound(&z, static_cast<uLong>(size)), '\0');
    z.next_in = const_cast<Bytef*>(data);
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    // deflateBound covers the whole input, but avail_* are 32-bit: feed in slices.
    std::size_t inLeft = size, outLeft = out.size();
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        uInt inNow = static_cast<uInt>(std::min<std::size_t>(inLeft, 1u << 30));
        uInt outNow = static_cast<uInt>(std::min<std::size_t>(outLeft, 1u << 30));
        z.avail_in = inNow, z.avail_out = outNow;
        rc = deflate(&z, inLeft == inNow ? Z_FINISH : Z_NO_FLUSH);
        inLeft -= inNow - z.avail_in, outLeft -= outNow - z.avail_out;
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) break;
        if (rc == Z_BUF_ERROR && outLeft == 0) break;
    }
    out.resize(out.size() - outLeft);
    deflateEnd(&z);
    return out;
}

}  // namespace

std::string Deflate(const std::uint8_t* data, std::size_t size, bool predicted) {
    // Palette indexes: the deepest search pays on small pictures only; on
    // large ones (animation frames above all) it doubles the time for 2 %.
    if (!predicted) return DeflateWith(data, size, Z_DEFAULT_STRATEGY, size <= 256 * 1024 ? 9 : 6);
    // Predicted rows of photographs are small noisy values: run-length coding
    // is smaller there and twenty times faster than searching for matches;
    // drawings and screenshots repeat and want the full search. Small inputs
    // try each way; large ones decide on slices spread over the data.
    static const int strategies[] = {Z_RLE, Z_FILTERED, Z_DEFAULT_STRATEGY};
    constexpr std::size_t kSlice = 64 * 1024, kSlices = 8;
    if (size <= kSlice * kSlices) {
        std::string best;
        for (int st : strategies) {
            std::string got = DeflateWith(data, size, st);
            if (best.empty() || got.size() < best.size()) best = std::move(got);
        }
        return best;
    }
    int bestStrategy = Z_RLE;
    std::size_t bestSize = ~std::size_t{0};
    for (int st : strategies) {
        std::size_t total = 0;
        for (std::size_t i = 0; i < kSlices; ++i)
            total += DeflateWith(data + (size - kSlice) / (kSlices - 1) * i, kSlice, st).size();
        if (total < bestSize) bestSize = total, bestStrategy = st;
    }
    return DeflateWith(data, size, bestStrategy);
}

bool Inflate(std::string_view in, std::string& out, std::size_t limit) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    out.clear();
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    std::size_t inLeft = in.size();
    char buf[65536];
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        uInt inNow = static_cast<uInt>(std::min<std::size_t>(inLeft, 1u << 30));
        z.avail_in = inNow;
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        inLeft -= inNow - z.avail_in;
        std::size_t got = sizeof buf - z.avail_out;
        if (out.size() + got > limit) rc = Z_MEM_ERROR;
        else out.append(buf, got);
        if (rc != Z_OK && rc != Z_STREAM_END) break;
        if (got == 0 && inLeft == 0 && rc != Z_STREAM_END) { rc = Z_DATA_ERROR; break; }
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

std::vector<std::uint8_t> PngFilterRows(const std::uint8_t* rows, std::size_t rowBytes, int height, int bpp) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(height) * (rowBytes + 1));
    std::vector<std::uint8_t> cand[5];
    for (auto& c : cand) c.resize(rowBytes);
    std::vector<std::uint8_t> zeroRow(rowBytes, 0);
    std::size_t b = static_cast<std::size_t>(bpp);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* cur = rows + static_cast<std::size_t>(y) * rowBytes;
        const std::uint8_t* up = y ? cur - rowBytes : zeroRow.data();
        unsigned long best = ~0ul;
        int bestF = 0;
        for (int f = 0; f < 5; ++f) {
            std::uint8_t* o = cand[f].data();
            unsigned long sum = 0;
            for (std::size_t i = 0; i < rowBytes; ++i) {
                int a = i >= b ? cur[i - b] : 0, u = up[i], c = i >= b ? up[i - b] : 0, v = 0;
                switch (f) {
                    case 0: v = cur[i]; break;
                    case 1: v = cur[i] - a; break;
                    case 2: v = cur[i] - u; break;
                    case 3: v = cur[i] - ((a + u) >> 1); break;
                    case 4: {
                        int p = a + u - c, pa = std::abs(p - a), pb = std::abs(p - u), pc = std::abs(p - c);
                        v = cur[i] - (pa <= pb && pa <= pc ? a : pb <= pc ? u : c);
                        break;
                    }
                }
                o[i] = static_cast<std::uint8_t>(v);
                sum += static_cast<unsigned long>(std::abs(static_cast<std::int8_t>(o[i])));
            }
            if (sum < best) best = sum, bestF = f;
        }
        std::uint8_t* dst = out.data() + static_cast<std::size_t>(y) * (rowBytes + 1);
        dst[0] = static_cast<std::uint8_t>(bestF);
        std::copy(cand[bestF].begin(), cand[bestF].end(), dst + 1);
    }
    return out;
}

namespace {

// Samples of `bits` in packed rows; adaptive PNG filters only where they help
// (8 and 16 bits of a continuous-tone model).
void Compress(PdfImage& im, const std::vector<std::uint8_t>& samples, std::size_t rowBytes) {
    im.filter = "FlateDecode";
    bool predict = im.model != ColorModel::Indexed && im.bitsPerComponent >= 8;
    if (!predict) {
        im.data = Deflate(samples.data(), samples.size(), false);
        return;
    }
    int bpp = im.Components() * im.bitsPerComponent / 8;
    auto filtered = PngFilterRows(samples.data(), rowBytes, im.height, bpp);
    im.data = Deflate(filtered.data(), filtered.size(), true);
    im.decodeParms = "<< /Predictor 15 /Colors " + std::to_string(im.Components()) + " /BitsPerComponent " +
                     std::to_string(im.bitsPerComponent) + " /Columns " + std::to_string(im.width) + " >>";
}

}  // namespace

PdfImage EncodeRaster(Raster&& r) {
    PdfImage im;
    im.model = r.model;
    im.bitsPerComponent = r.bits;
    im.width = r.width, im.height = r.height;
    im.palette = std::move(r.palette);
    if (im.model != ColorModel::Indexed) im.iccProfile = std::move(r.icc);
    Compress(im, r.samples, r.RowBytes());
    r.samples = {};

    if (!r.alpha.empty()) {
        std::size_t n = static_cast<std::size_t>(r.width) * r.height;
        bool sixteen = r.alphaBits == 16;
        bool opaque = true, binary = true;
        for (std::size_t i = 0; i < n; ++i) {
            unsigned v = sixteen ? (r.alpha[2 * i] << 8 | r.alpha[2 * i + 1]) : r.alpha[i];
            unsigned max = sixteen ? 65535 : 255;
            if (v != max) opaque = false;
            if (v != 0 && v != max) binary = false;
        }
        if (!opaque) {
            auto mask = std::make_shared<PdfImage>();
            mask->model = ColorModel::Gray;
            mask->width = r.width, mask->height = r.height;
            if (binary) {
                std::size_t rowBytes = (static_cast<std::size_t>(r.width) + 7) / 8;
                std::vector<std::uint8_t> bitsRows(rowBytes * r.height, 0);
                for (int y = 0; y < r.height; ++y)
                    for (int x = 0; x < r.width; ++x) {
                        std::size_t i = static_cast<std::size_t>(y) * r.width + x;
                        if (sixteen ? r.alpha[2 * i] : r.alpha[i])
                            bitsRows[y * rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
                    }
                mask->bitsPerComponent = 1;
                Compress(*mask, bitsRows, rowBytes);
            } else {
                mask->bitsPerComponent = r.alphaBits;
                Compress(*mask, r.alpha, static_cast<std::size_t>(r.width) * (sixteen ? 2 : 1));
            }
            im.softMask = std::move(mask);
        }
    }
    return im;
}

}  // namespace images::detail
