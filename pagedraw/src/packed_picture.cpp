#include "packed_picture.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include <libdeflate.h>

namespace pagedraw {
namespace {

void PutBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.insert(out.end(), {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
}

void PutChunk(std::vector<std::uint8_t>& out, std::string_view type, const std::uint8_t* data, std::size_t size) {
    PutBe32(out, std::uint32_t(size));
    const std::size_t at = out.size();
    out.insert(out.end(), type.begin(), type.end());
    if (size) out.insert(out.end(), data, data + size);
    PutBe32(out, libdeflate_crc32(0, out.data() + at, size + 4));
}

struct FreeCompressor {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

}  // namespace

std::optional<emf::Image> PackPng(const emf::Image& picture) {
    const bool gray = picture.format == emf::Image::Format::Gray8;
    if ((!gray && picture.format != emf::Image::Format::Rgb8) || picture.width <= 0 || picture.height <= 0)
        return std::nullopt;
    const std::size_t channels = gray ? 1 : 3, w = std::size_t(picture.width), h = std::size_t(picture.height);
    const std::size_t rowBytes = w * channels;
    if (std::size_t(picture.components) != channels || picture.pixels.size() != rowBytes * h ||
        !picture.iccProfile.empty())
        return std::nullopt;

    // Rows without a filter, at the level the PDF library packs pictures
    // with: printed pictures are mostly photos and scans, which the PNG
    // filters make larger at this level, not smaller, and the PDF stays as
    // small as when the painter packed the pixels itself.
    std::vector<std::uint8_t> rows((rowBytes + 1) * h);
    for (std::size_t y = 0; y < h; ++y) {
        std::uint8_t* o = &rows[y * (rowBytes + 1)];
        o[0] = 0;
        std::memcpy(o + 1, picture.pixels.data() + y * rowBytes, rowBytes);
    }
    thread_local std::unique_ptr<libdeflate_compressor, FreeCompressor> deflater(libdeflate_alloc_compressor(6));
    if (!deflater) return std::nullopt;
    std::vector<std::uint8_t> packed(libdeflate_zlib_compress_bound(deflater.get(), rows.size()));
    const std::size_t got = libdeflate_zlib_compress(deflater.get(), rows.data(), rows.size(), packed.data(), packed.size());
    if (got == 0) return std::nullopt;

    emf::Image out;
    out.format = emf::Image::Format::Png;
    out.width = picture.width, out.height = picture.height, out.components = int(channels);
    out.dpiX = picture.dpiX, out.dpiY = picture.dpiY;
    std::vector<std::uint8_t>& file = out.encoded;
    file.reserve(got + 64);
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    file.insert(file.end(), kSignature, kSignature + 8);
    std::vector<std::uint8_t> header;
    PutBe32(header, std::uint32_t(w)), PutBe32(header, std::uint32_t(h));
    header.insert(header.end(), {8, std::uint8_t(gray ? 0 : 2), 0, 0, 0});
    PutChunk(file, "IHDR", header.data(), header.size());
    // Chunks hold at most 2^31 - 1 bytes.
    constexpr std::size_t kChunk = std::size_t(1) << 30;
    for (std::size_t at = 0; at < got; at += kChunk)
        PutChunk(file, "IDAT", packed.data() + at, std::min(kChunk, got - at));
    PutChunk(file, "IEND", nullptr, 0);
    return out;
}

}  // namespace pagedraw
