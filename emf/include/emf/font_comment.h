// The private comment record that carries a font program with a page.
//
// A page converted from a PDF names its fonts by face in EXTCREATEFONTINDIRECTW
// as every metafile does, so any reader can fall back to an installed face. The
// font programs the PDF embedded travel beside them in comment records of ours,
// one per font and before the first text that uses it: a reader that knows the
// record (our PDF painter) draws those faces with exactly those glyphs, others
// skip the comment.
//
// Data layout (little-endian): "VMFP", version 1, the face name's length in
// UTF-16 units and the name, the program's format and its length and bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "emf/device.h"

namespace emf {

constexpr std::uint32_t kFontProgramComment = 0x50464D56;  // "VMFP"

// The comment's data (what follows the record's size field).
std::vector<std::uint8_t> EncodeFontComment(const FontProgram&);

// Nothing when `data` is not one of our font comments or is damaged; the
// program's bytes are not checked here (the font loader does that).
std::optional<FontProgram> DecodeFontComment(std::span<const std::uint8_t> data);

}  // namespace emf
