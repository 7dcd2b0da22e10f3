// libFuzzer target for the parsers of outside input: web archives, transfer
// decodings, encoding detection and conversion, address handling, and the
// markup sanitizer with its scan, and the parts a long document is cut into.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "htmlengine/encoding.h"
#include "htmlengine/mht.h"
#include "chunks.h"
#include "htmlengine/url.h"
#include "sanitize.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    if (auto a = htmlengine::ParseMht(in)) {
        for (const auto& p : a->parts) a->Find(p.location), a->Find("cid:" + p.contentId);
    }
    htmlengine::DecodeQuotedPrintable(in);
    htmlengine::DecodeBase64(in);
    htmlengine::DecodeHtml(in, "");
    htmlengine::DecodeCss(in, "", "WINDOWS-1252");
    auto half = in.substr(0, size / 2), rest = in.substr(size / 2);
    htmlengine::ResolveUrl(half, rest);
    htmlengine::NormaliseSource(in.substr(0, 4096), "/nonexistent-dir");
    htmlengine::FilePathFromUrl(in);
    htmlengine::SanitizeHtml(in, 96, 8);
    htmlengine::PassThroughHtml(in, 96);
    // Small caps and parts, so that short inputs reach the flattening and
    // every part's markup is cut from the spans.
    const htmlengine::SanitizedHtml sane = htmlengine::SanitizeHtml(in, 6, 2);
    const htmlengine::ChunkPlan plan = htmlengine::PlanChunks(sane, 64);
    // A split table's width and ruler go into its start tag and its parts.
    const htmlengine::TableSetting table{"width:100px", "<tr><td></td></tr>"};
    for (std::size_t k = 0; k < plan.Parts(); ++k) {
        htmlengine::ChunkHtml(sane, plan, k, 2);
        htmlengine::ChunkHtml(sane, plan, k, 2, table);
        htmlengine::ChunkPadding(plan, k);
    }
    return 0;
}
