// The router: one source file to the format converter of its extension.
#pragma once

#include <cstdint>
#include <string>

#include "context.h"

namespace vellumate {

// Converts one file. Paths are resolved first (the source against the
// program's folder, the output against the source's folder); the file is
// routed by its extension. Returns a ConvertResult. Preconditions: MakeOne,
// firstFile/lastFile (with MakeOne), interactive and progress set by the caller.
std::int32_t ConvertFile(ConversionContext& ctx, const std::string& source, const std::string& output);

// The absolute forms ConvertFile uses.
std::string ResolveSource(const RunSetup& setup, const std::string& source);

}  // namespace vellumate
