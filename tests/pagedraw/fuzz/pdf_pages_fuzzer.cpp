// Fuzz target: arbitrary bytes as a PDF, its first pages as metafiles, and
// those metafiles played back (the font comments included).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "emf/player.h"
#include "pagedraw/pdf_pages.h"

namespace {

class Sink : public emf::Device {
public:
    std::size_t n = 0;
    void DrawText(const emf::TextRun& t, const emf::Matrix&) override { n += t.text.size() + t.advances.size(); }
    void DefineFont(const emf::FontProgram& f) override { n += f.bytes.size(); }
    void DrawImage(const emf::Image& img, const emf::Matrix&) override { n += img.pixels.size() + img.encoded.size(); }
};

}  // namespace

// fontconfig keeps what it parsed of its configuration for the life of the
// process: not a leak of ours (LeakSanitizer reads this list).
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    auto pages = pagedraw::PdfPages::OpenBytes(std::span<const std::uint8_t>(data, size), error, {72, true});
    if (!pages) return 0;
    for (int i = 0; i < pages->PageCount() && i < 3; ++i) {
        auto emf = pages->ConvertPage(i, error);
        Sink sink;
        emf::Play(emf, sink);
    }
    return 0;
}
