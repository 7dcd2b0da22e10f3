// Parts of a library that only some runs need (web transfers, SVG pictures,
// document protection, ...) are built as modules of their own, libvm_*.so,
// and opened on first use, so that a run which never needs them never maps
// their libraries.
//
// A module exports "VmModuleAbiVersion" (returning the version its callers
// were built with: both sides pass C++ objects) and its entry points, with C
// linkage. It is looked for beside the library or program that holds this
// code (each links its own copy of the platform), then in ../lib from there:
// programs live in bin/ and tests/, the in-process servers and the modules in
// lib/.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

extern "C" {
using ModuleVersionFn = std::uint32_t();
}

// Opens `file` (from `folder` when it is not empty, else as above) and returns
// its entry point `entry`; null when the module is missing, or from another
// build (it is then left mapped and never called), with `why` saying which.
// Opening a module twice is cheap; callers keep what they need.
void* OpenModuleEntry(const std::string& folder, const char* file, const char* entry, std::uint32_t abiVersion,
                      std::string* why);

}  // namespace platform
