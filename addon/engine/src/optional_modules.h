// Parts of the engine that only some documents need, built as modules of their
// own and opened on first use: libvm_fetch.so (http: and https: transfers,
// with libcurl) and libvm_svg.so (SVG pictures, with librsvg and cairo). A
// page without web addresses or SVG pictures never maps those libraries.
//
// The modules are looked for beside the library or program that holds this
// code, then in ../lib from there (programs live in bin/ and tests/, the
// in-process servers and the modules in lib/). A module that is missing or
// from another build is reported once as unavailable; callers fall back (a
// failed transfer, a picture shown by its alt text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace emf {
struct Image;
}

namespace htmlengine {

struct FetchResult;

// What each module exports, with C linkage. The version guards against a
// module left over from another build: both sides pass C++ objects.
constexpr std::uint32_t kModuleAbiVersion = 2;
extern "C" {
// Transfers `url` (http or https, redirects followed) until `timeoutMs` has
// passed, keeping at most `maxBytes` of the body. Fills everything of `out`.
using FetchHttpFn = void(const char* url, const char* userAgent, long timeoutMs, std::size_t maxBytes,
                         FetchResult* out);
// Where the SVG library lays out elements of a document: `ids` holds
// `count` element ids, each ended by a NUL; `boxes` gets x, y, width, height
// of each one's logical box in the picture's pixels (all NaN for one it
// cannot place).
struct SvgBoxQuery {
    const char* ids = nullptr;
    std::size_t count = 0;
    double* boxes = nullptr;
};
// Draws an SVG document at its own size; false when it is damaged or larger
// than `maxPixels`. `out` is filled only on success; `query`, when given, is
// answered for the same size.
using RenderSvgFn = bool(const char* data, std::size_t size, std::size_t maxPixels, emf::Image* out,
                         SvgBoxQuery* query);
}

enum class OptionalModule : std::uint32_t { Fetch = 1, Svg = 2 };

// The module's entry point, opened on the first call; null when the module
// cannot be used (`why`, when given, says why).
FetchHttpFn* FetchModule(std::string* why = nullptr);
RenderSvgFn* SvgModule(std::string* why = nullptr);

// The modules this process has opened, as a mask of OptionalModule bits. A
// layout process reports them so that the process it was forked from opens
// them too, and its later layout processes inherit them.
std::uint32_t OpenedModules();
// Opens every module named in the mask (those that exist).
void OpenModules(std::uint32_t mask);

// Held while a module is opened and around the fork of a layout process, so
// that no child inherits the dynamic loader in the middle of an open.
std::mutex& ModulesLock();

// Where modules are looked for, for tests: an empty folder restores the
// default search; modules already opened stay open.
void SetModuleFolderForTesting(const std::string& folder);

}  // namespace htmlengine
