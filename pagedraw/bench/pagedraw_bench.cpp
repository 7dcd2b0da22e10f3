// Measurements for scripts/bench_pagedraw.sh: pages a second of the page
// converter on one core, and bytes a page.
//
//   pagedraw_bench --make-text N OUT.pdf    writes an N-page text PDF with our library
//   pagedraw_bench [--dpi N] [--picture-dpi M] PDF...
//                                           converts every page of each PDF in memory
//                                           (at N device pixels an inch, pictured areas
//                                           at M at most; the browser engine's prints
//                                           are converted at 192 and 96)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "pdfcore/document.h"
#include "pagedraw/pdf_pages.h"
#include "pdfpaint/painter.h"

namespace {

int MakeText(int pages, const char* out) {
    pdfcore::Document doc;
    doc.GetSettings().compress = true;
    for (int p = 0; p < pages; ++p) {
        doc.AddPage(595.276, 841.89);
        pdfpaint::PdfPainter painter(doc, doc.GetPage(p).content);
        for (int line = 0; line < 60; ++line) {
            emf::TextRun t;
            t.face = line % 10 == 0 ? "Liberation Sans" : "Liberation Serif";
            t.weight = line % 10 == 0 ? 700 : 400;
            t.emHeight = line % 10 == 0 ? 12 : 10;
            t.text = u"Line " + std::u16string(1, char16_t(u'0' + line % 10)) +
                     u" of a page of plain running text, as reports and letters have it, set in a book face.";
            t.origin = {56, 60 + line * 12.5};
            painter.DrawText(t, {});
        }
        painter.Finish();
        doc.FinishPageContent(p);
    }
    doc.Write(out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--make-text") == 0) return MakeText(std::atoi(argv[2]), argv[3]);
    if (argc < 2) {
        std::fprintf(stderr, "usage: pagedraw_bench --make-text N OUT.pdf | pagedraw_bench [--dpi N] [--picture-dpi M] PDF...\n");
        return 1;
    }
    pagedraw::ConvertOptions options;
    int first = 1;
    for (; first + 2 < argc; first += 2) {
        if (std::strcmp(argv[first], "--dpi") == 0) options.dpi = std::atoi(argv[first + 1]);
        else if (std::strcmp(argv[first], "--picture-dpi") == 0) options.pictureDpi = std::atoi(argv[first + 1]);
        else break;
    }
    double total = 0;
    for (int i = first; i < argc; ++i) {
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        auto pages = pagedraw::PdfPages::Open(argv[i], error, options);
        if (!pages) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.c_str());
            return 2;
        }
        std::size_t bytes = 0;
        for (int p = 0; p < pages->PageCount(); ++p) bytes += pages->ConvertPage(p, error).size();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        total += s;
        std::printf("%s: %d pages in %.3f s = %.0f pages/s, %.0f bytes a page\n", argv[i], pages->PageCount(), s,
                    pages->PageCount() / s, double(bytes) / pages->PageCount());
    }
    if (argc - first > 1) std::printf("all: %.3f s\n", total);
    return 0;
}
