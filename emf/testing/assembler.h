// Metafiles written as annotated text, for tests and fixtures.
//
// One record a line; '#' starts a comment. A line is a record name
// (EMR_POLYGON16, or a number) followed by fields:
//   u32:N i32:N u16:N i16:N u8:N f32:X   one value
//   rect:L,T,R,B  pt:X,Y                 16 or 8 bytes of i32
//   w:"text"                             UTF-16 code units, no terminator
//   a:"text"                             bytes
//   hex:0a0bff                           raw bytes
//   fill:N:B                             N bytes of value B
//   pad                                  zero bytes up to a multiple of 4
//   @name / &name                        marks a place / writes the u32
//                                        offset of that place in the record
// The size field is filled in, unless the line gives size=N. A line "header"
// with optional bounds=L,T,R,B frame=L,T,R,B device=W,H mm=W,H desc="..."
// records=N bytes=N handles=N writes a header record whose record count and
// byte count are filled in at the end unless given. Records may end with
// "eof" (an EOF record), which is not added by itself.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace emf::testing {

// Throws std::invalid_argument with the line number on a malformed line.
std::vector<std::uint8_t> Assemble(const std::string& text);

}  // namespace emf::testing
