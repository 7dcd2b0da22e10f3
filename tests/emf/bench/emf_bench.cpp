// Measurements for scripts/bench_emf.sh (never run by the tests):
//   emf_bench make-text FILE            a text-heavy A4 page at 96 pixels per inch
//   emf_bench make-large FILE MB        a metafile of about MB megabytes
//   emf_bench read FILE ROUNDS          reader throughput (records walked and checked)
//   emf_bench play FILE ROUNDS          reader + player onto a device that draws nothing
//   emf_bench pdf FILE PAGES OUT.pdf    draws FILE onto PAGES pages and writes the PDF
// Each measuring mode prints one line "name value unit" per figure and the
// peak resident memory of the process.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "pdfcore/document.h"
#include "emf/player.h"
#include "emf/recorder_device.h"
#include "emf/writer.h"
#include "pdfpaint/draw_metafile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void PeakMemory() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::printf("peak_rss %.1f MB\n", u.ru_maxrss / 1024.0);
}

std::vector<std::uint8_t> Load(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Save(const char* path, const std::vector<std::uint8_t>& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

const char16_t* kWords[] = {u"metafile", u"records", u"vellum", u"page", u"slice", u"glyph", u"advance",
                            u"the", u"of", u"and", u"drawing", u"device", u"context", u"printer", u"frame"};

pdfcore::FontCache& Fonts() {
    static pdfcore::FontCache cache;
    return cache;
}

// One page of text lines in two faces and sizes, with rules and boxes; the
// advances are the faces' own, rounded to whole pixels as screen text is.
void TextPage(emf::Device& d, int seed) {
    emf::TextRun t;
    int w = seed;
    for (int line = 0; line < 62; ++line) {
        bool heading = line % 15 == 0;
        t.face = heading ? "DejaVu Serif" : "DejaVu Sans";
        t.emHeight = heading ? 20 : 13;
        t.weight = heading ? 700 : 400;
        t.origin = {48, 60 + line * 17.0};
        t.text.clear();
        while (t.text.size() < (heading ? 40u : 95u)) {
            t.text += kWords[w++ % 15];
            t.text += u' ';
        }
        pdfcore::Font* f = Fonts().Resolve(t.face, t.weight, false);
        t.advances.clear();
        for (char16_t c : t.text) t.advances.push_back(std::round(f->Measure(std::u16string(1, c)) * t.emHeight));
        d.DrawText(t, {});
        if (heading) {
            emf::Path rule;
            rule.MoveTo({48, t.origin.y + 4}), rule.LineTo({746, t.origin.y + 4});
            emf::StrokeStyle s;
            s.width = 1;
            d.StrokePath(rule, s, {90, 90, 90, 255}, {});
        }
    }
    emf::Path box;
    box.AddRect({40, 40, 754, 1100});
    emf::StrokeStyle s;
    s.width = 2;
    d.StrokePath(box, s, {0, 0, 128, 255}, {});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: emf_bench make-text|make-large|read|play|pdf|convert ...\n");
        return 2;
    }
    std::string mode = argv[1];
    if (mode == "make-text" || mode == "make-large") {
        emf::RecorderSetup setup;
        setup.hasFrame = true;
        setup.frame = {0, 0, 21000, 29700};
        emf::Recorder rec(setup);
        {
            emf::RecorderDevice dev(rec);
            double mb = mode == "make-large" && argc > 3 ? std::atof(argv[3]) : 0;
            int page = 0;
            do TextPage(dev, page++);
            while (rec.ByteCount() < mb * 1e6);
        }
        Save(argv[2], rec.Finish());
        return 0;
    }
    auto bytes = Load(argv[2]);
    if (bytes.empty()) return std::fprintf(stderr, "emf_bench: cannot read %s\n", argv[2]), 2;
    if (mode == "read" || mode == "play") {
        int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
        std::size_t records = 0;
        auto t0 = Clock::now();
        for (int i = 0; i < rounds; ++i) {
            if (mode == "read") {
                records += emf::Read(bytes).records.size();
            } else {
                emf::Device sink;
                records += emf::Play(bytes, sink).played;
            }
        }
        double s = Seconds(t0);
        std::printf("%s_throughput %.1f MB/s\n", mode.c_str(), bytes.size() * double(rounds) / s / 1e6);
        std::printf("%s_records %.2f Mrecords/s\n", mode.c_str(), records / s / 1e6);
        std::printf("file_size %.1f MB\n", bytes.size() / 1e6);
        PeakMemory();
        return 0;
    }
    if (mode == "pdf" && argc > 4) {
        int pages = std::atoi(argv[3]);
        auto t0 = Clock::now();
        pdfcore::Document doc;
        doc.GetSettings().compress = true;
        double drawSeconds = 0;
        for (int p = 0; p < pages; ++p) {
            int idx = doc.AddPage(595.2756, 841.8898);
            auto t1 = Clock::now();
            auto out = pdfpaint::DrawMetafile(doc, idx, bytes, 0, 0, 1, 1, 0, 0.75, true);
            drawSeconds += Seconds(t1);
            if (out.status != pdfpaint::DrawStatus::Ok) return std::fprintf(stderr, "%s\n", out.error.c_str()), 1;
            doc.FinishPageContent(idx);
        }
        auto t2 = Clock::now();
        doc.Write(argv[4]);
        double writeSeconds = Seconds(t2);
        std::printf("pages %d\n", pages);
        std::printf("draw_per_page %.2f ms\n", drawSeconds / pages * 1000);
        std::printf("write %.1f ms\n", writeSeconds * 1000);
        std::printf("total %.1f ms\n", Seconds(t0) * 1000);
        PeakMemory();
        return 0;
    }
    if (mode == "convert" && argc > 3) {
        // One metafile as a picture, onto a page of the size it shows (its
        // frame, or what it draws when the frame lies), one reference pixel 0.75 pt.
        auto t0 = Clock::now();
        const emf::Rect f = pdfpaint::PictureFrame(bytes);
        if (f.Empty()) return std::fprintf(stderr, "emf_bench: %s is no metafile\n", argv[2]), 1;
        pdfcore::Document doc;
        doc.GetSettings().compress = true;
        int idx = doc.AddPage(std::max(1.0, f.Width() * 0.75), std::max(1.0, f.Height() * 0.75));
        auto out = pdfpaint::DrawMetafile(doc, idx, bytes, 0, 0, 1, 1, 0, 0.75, true);
        if (out.status != pdfpaint::DrawStatus::Ok) return std::fprintf(stderr, "%s\n", out.error.c_str()), 1;
        doc.FinishPageContent(idx);
        doc.Write(argv[3]);
        std::printf("convert_ms %.2f\n", Seconds(t0) * 1000);
        return 0;
    }
    std::fprintf(stderr, "emf_bench: unknown mode %s\n", mode.c_str());
    return 2;
}
