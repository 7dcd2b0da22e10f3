// The body of the picture fuzzer, shared with the corpus replay test: loads
// the bytes and checks what came out is consistent with them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vmtest {
// Returns false when a loaded picture breaks an invariant (a size that does
// not match its stream, a palette of the wrong length, ...).
bool FuzzOnePicture(const std::uint8_t* data, std::size_t size);
}  // namespace vmtest
