// Little-endian byte access used by the writer and the reader.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace emf::detail {

// One append of the four bytes (four push_backs check the capacity four
// times; records are made of little else).
inline void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    const std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
    out.insert(out.end(), b, b + 4);
}
inline void PutI32(std::vector<std::uint8_t>& out, std::int32_t v) { PutU32(out, std::uint32_t(v)); }
inline void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    const std::uint8_t b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
    out.insert(out.end(), b, b + 2);
}
inline void PutF32(std::vector<std::uint8_t>& out, float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    PutU32(out, v);
}
inline void PatchU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    out[at] = std::uint8_t(v), out[at + 1] = std::uint8_t(v >> 8);
    out[at + 2] = std::uint8_t(v >> 16), out[at + 3] = std::uint8_t(v >> 24);
}
// Unchecked reads: callers have checked the range.
inline std::uint32_t GetU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
inline std::uint16_t GetU16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
inline std::int32_t GetI32(const std::uint8_t* p) { return std::int32_t(GetU32(p)); }
inline float GetF32(const std::uint8_t* p) {
    std::uint32_t v = GetU32(p);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

}  // namespace emf::detail
