#include "emf/font_comment.h"

#include "bytes.h"

namespace emf {

using namespace detail;

namespace {
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kMaxFace = 64;                 // LOGFONT keeps 31; room for longer keys
constexpr std::size_t kMaxProgram = std::size_t(64) << 20;
}  // namespace

std::vector<std::uint8_t> EncodeFontComment(const FontProgram& f) {
    std::vector<std::uint8_t> out;
    const std::size_t faceLen = std::min(f.face.size(), kMaxFace);
    out.reserve(24 + faceLen * 2 + f.bytes.size());
    PutU32(out, kFontProgramComment), PutU32(out, kVersion);
    PutU32(out, std::uint32_t(faceLen));
    for (std::size_t i = 0; i < faceLen; ++i) PutU16(out, f.face[i]);
    PutU32(out, std::uint32_t(f.format));
    PutU32(out, std::uint32_t(f.bytes.size()));
    out.insert(out.end(), f.bytes.begin(), f.bytes.end());
    return out;
}

std::optional<FontProgram> DecodeFontComment(std::span<const std::uint8_t> d) {
    std::size_t at = 0;
    auto u32 = [&](std::uint32_t& v) {
        if (d.size() < 4 || at > d.size() - 4) return false;
        v = GetU32(d.data() + at), at += 4;
        return true;
    };
    std::uint32_t sig, version, faceLen, format, size;
    if (!u32(sig) || sig != kFontProgramComment || !u32(version) || version != kVersion || !u32(faceLen) ||
        faceLen == 0 || faceLen > kMaxFace || d.size() - at < std::size_t(faceLen) * 2)
        return std::nullopt;
    FontProgram f;
    for (std::uint32_t i = 0; i < faceLen; ++i, at += 2) f.face += char16_t(GetU16(d.data() + at));
    if (!u32(format) || format != std::uint32_t(FontProgram::Format::Sfnt) || !u32(size) || size == 0 ||
        size > kMaxProgram || d.size() - at < size)
        return std::nullopt;
    f.format = FontProgram::Format(format);
    f.bytes.assign(d.begin() + std::ptrdiff_t(at), d.begin() + std::ptrdiff_t(at + size));
    return f;
}

}  // namespace emf
