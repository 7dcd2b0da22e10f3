// Writes a text document through the document object, for the benchmark
// script: N pages of 60 lines each.
//
//   pdflib_bench --pages 100 --out FILE [--links N] [--encrypt] [--plain] [--no-embed] [--text FILE]
//
// --links adds N link annotations to every page once all pages are drawn, as
// the converter does for a compiled help file: every other one an address
// (URI action), the others a jump to another page (GoTo action).
// --text also writes the same lines as an HTML <pre> page, for comparisons.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pdf_document.h"

namespace {

// The lines of the document, made one at a time (a large run would
// otherwise hold them all and measure the benchmark instead of the library).
class LineMaker {
public:
    std::string Next() {
        static const char* words[] = {"document", "page",  "vellum", "text",   "kerning", "AVATAR", "Wave",
                                      "line",     "glyph", "font",   "subset", "writer",  "quota",  "yield",
                                      "office",   "table", "river",  "Tower",  "level",   "jump"};
        std::string l = std::to_string(++count_) + ":";
        while (l.size() < 80) {
            seed_ = seed_ * 1103515245u + 12345u;
            l += ' ';
            l += words[(seed_ >> 16) % 20];
        }
        return l;
    }

private:
    unsigned seed_ = 12345;
    int count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    int pages = 100, links = 0;
    std::string out = "bench.pdf", textOut;
    bool encrypt = false, compress = true, embed = true;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--pages" && i + 1 < argc) {
            pages = std::atoi(argv[++i]);
        } else if (a == "--links" && i + 1 < argc) {
            links = std::atoi(argv[++i]);
        } else if (a == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (a == "--text" && i + 1 < argc) {
            textOut = argv[++i];
        } else if (a == "--encrypt") {
            encrypt = true;
        } else if (a == "--plain") {
            compress = false;
        } else if (a == "--no-embed") {
            embed = false;
        } else {
            std::fprintf(stderr, "usage: %s --pages N --out FILE [--links N] [--encrypt] [--plain] [--no-embed] [--text FILE]\n",
                         argv[0]);
            return 2;
        }
    }
    const int kLines = 60;
    if (!textOut.empty()) {
        LineMaker lines;
        std::ofstream html(textOut);
        html << "<html><head><meta charset=\"utf-8\"></head><body><pre>\n";
        for (int i = 0; i < pages * kLines; ++i) html << lines.Next() << "\n";
        html << "</pre></body></html>\n";
    }
    LineMaker lines;

    auto start = std::chrono::steady_clock::now();
    auto* obj = corvanth::CPdfDocument::CreateOwned();
    auto doc = com::ComPtr<corvanth::IPdfDocument>::Attach(static_cast<corvanth::IPdfDocument*>(obj));
    auto check = [&](com::HRESULT hr, const char* what) {
        if (com::FAILED(hr)) {
            std::fprintf(stderr, "%s failed: 0x%08X %s\n", what, static_cast<unsigned>(hr), obj->LastError().c_str());
            std::exit(1);
        }
    };
    check(doc->put_FileName(com::Bstr(out).Get()), "FileName");
    check(doc->put_Resolution(72), "Resolution");
    check(doc->BeginDoc(), "BeginDoc");
    check(doc->put_Compression(compress ? 1 : 0), "Compression");
    check(doc->put_FontEmbedding(embed ? 2 : 3), "FontEmbedding");
    if (encrypt) {
        check(doc->put_Encrypt(-1), "Encrypt");
        check(doc->put_KeyLength(1), "KeyLength");
        check(doc->put_UserPassword(com::Bstr("").Get()), "UserPassword");
        check(doc->put_OwnerPassword(com::Bstr("owner").Get()), "OwnerPassword");
        check(doc->put_AllowCopy(0), "AllowCopy");
    }
    check(doc->SetFont(com::Bstr("DejaVu Sans Mono").Get(), 0, 0, 0, 0, 9, 1), "SetFont");
    for (int p = 0; p < pages; ++p) {
        if (p) check(doc->NewPage(), "NewPage");
        for (int l = 0; l < kLines; ++l) {
            com::Bstr text(lines.Next());
            check(doc->TextOut(text.Get(), 36, 36 + l * 12.5, 0), "TextOut");
        }
    }
    unsigned seed = 777;
    for (int p = 0; p < pages && links > 0; ++p) {
        for (int k = 0; k < links; ++k) {
            std::int32_t action = 0;
            seed = seed * 1103515245u + 12345u;
            if (k % 2 == 0) {
                std::string url = "https://docs.example.test/library/topic" + std::to_string(seed % 20200) +
                                  ".htm#section" + std::to_string(k);
                check(doc->CreateUriAction(com::Bstr(url).Get(), &action), "CreateUriAction");
            } else {
                check(doc->CreateGoToAction(static_cast<std::int32_t>(seed % pages), 120, &action),
                      "CreateGoToAction");
            }
            check(doc->put_CurrentPage(p), "CurrentPage");
            double top = 36 + (k % 60) * 12.5;
            check(doc->AddLink(36 + (k / 60) * 200, top, 236 + (k / 60) * 200, top + 12, action), "AddLink");
        }
    }
    check(doc->EndDoc(), "EndDoc");
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f\n", secs);
    return 0;
}
