// emf2pdf OUT.pdf PAGE.emf...: metafiles as the pages of a PDF, each page the
// size of its metafile's frame, drawn by our PDF painter (text stays text,
// font programs that came with the pages are embedded again).
//
// Exit status: 0 done, 1 wrong arguments, 2 a metafile cannot be read,
// 3 the PDF cannot be written.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pdfcore/document.h"
#include "emf/player.h"
#include "emf/reader.h"
#include "pdfpaint/draw_metafile.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: emf2pdf OUT.pdf PAGE.emf...\n");
        return 1;
    }
    pdfcore::Document doc;
    doc.GetSettings().compress = true;
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string error;
        auto header = emf::ReadHeader(bytes, &error);
        if (!in.is_open() || in.bad() || !header) {
            std::fprintf(stderr, "emf2pdf: %s: %s\n", argv[i], !in.is_open() || in.bad() ? "cannot be read" : error.c_str());
            return 2;
        }
        const emf::Rect frame = emf::FrameInPixels(*header);
        const double pxPerInch = header->millimeters.cx > 0 ? header->device.cx * 25.4 / header->millimeters.cx : 96;
        const double pointsPerPixel = 72 / pxPerInch;
        const int page = doc.AddPage(frame.Width() * pointsPerPixel, frame.Height() * pointsPerPixel);
        auto out = pdfpaint::DrawMetafile(doc, page, bytes, 0, 0, 1, 1, 0, pointsPerPixel);
        if (out.status != pdfpaint::DrawStatus::Ok) {
            std::fprintf(stderr, "emf2pdf: %s: %s\n", argv[i], out.error.c_str());
            return 2;
        }
        doc.FinishPageContent(page);
    }
    try {
        doc.Write(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "emf2pdf: %s\n", e.what());
        return 3;
    }
    return 0;
}
