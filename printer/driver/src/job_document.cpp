#include "job_document.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "pdfcore/document.h"
#include "pdfcore/picture_encoding.h"
#include "pictures/picture.h"
#include "pdfpaint/painter.h"
#include "platform/text.h"

namespace driver {

namespace {

constexpr double kMargin = 36;       // half an inch
constexpr double kTextSize = 10;     // points
constexpr double kLineHeight = 12;
constexpr double kCharWidth = 6;     // the monospace face's advance at 10 points
constexpr int kTabStop = 8;

bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

// "A4/A4: ..." -> "A4"; the PPD's option keyword before the slash or colon.
std::string Keyword(std::string_view line, std::size_t from) {
    std::size_t end = line.find_first_of("/:", from);
    std::string k(line.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
    while (!k.empty() && k.back() == ' ') k.pop_back();
    return k;
}

}  // namespace

Paper ChoosePaper(std::string_view ppd, std::string_view options) {
    std::vector<Paper> papers;
    std::string fallback;
    std::size_t at = 0;
    while (at < ppd.size()) {
        std::size_t end = ppd.find('\n', at);
        std::string_view line = ppd.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        at = end == std::string_view::npos ? ppd.size() : end + 1;
        if (line.rfind("*PaperDimension ", 0) == 0) {
            Paper p;
            p.name = Keyword(line, 16);
            const std::size_t q = line.find('"');
            if (q != std::string_view::npos &&
                std::sscanf(std::string(line.substr(q + 1)).c_str(), "%lf %lf", &p.width, &p.height) == 2 &&
                p.width > 0 && p.height > 0)
                papers.push_back(p);
        } else if (line.rfind("*DefaultPageSize: ", 0) == 0) {
            fallback = Keyword(line, 18);
        }
    }
    auto find = [&](std::string_view name) -> const Paper* {
        for (auto& p : papers)
            if (platform::EqualsNoCaseAscii(p.name, name))
                return &p;
        return nullptr;
    };
    for (const char* key : {"PageSize=", "media="}) {
        for (std::size_t pos = options.find(key); pos != std::string_view::npos; pos = options.find(key, pos + 1)) {
            if (pos > 0 && options[pos - 1] != ' ') continue;
            std::size_t from = pos + std::string_view(key).size();
            std::size_t to = options.find_first_of(" ,", from);
            if (const Paper* p = find(options.substr(from, to == std::string_view::npos ? std::string_view::npos : to - from)))
                return *p;
        }
    }
    if (const Paper* p = find(fallback)) return *p;
    return Paper{};
}

JobKind Sniff(std::string_view bytes) {
    if (bytes.substr(0, 1024).find("%PDF-") != std::string_view::npos) return JobKind::Pdf;
    const images::Format f = images::Sniff(bytes.substr(0, 64));
    if (f != images::Format::Unknown && f != images::Format::Emf) return JobKind::Picture;
    return JobKind::Text;
}

bool WriteTextPdf(std::string_view text, const Paper& paper, const std::string& path, std::string& error) {
    const std::u16string all =
        platform::Utf16FromUtf8(ValidUtf8(text) ? std::string(text) : platform::Utf8FromCodePage(text, 1252));
    const int columns = std::max(8, int((paper.width - 2 * kMargin) / kCharWidth));
    const int rows = std::max(1, int((paper.height - 2 * kMargin) / kLineHeight));
    // Lines as they will be printed: tabs expanded, long lines wrapped, a
    // form feed starting a new page (an empty line marked by FF).
    std::vector<std::u16string> lines(1);
    std::vector<bool> pageBreakBefore(1, false);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const char16_t c = all[i];
        if (c == u'\r') {
            if (i + 1 < all.size() && all[i + 1] == u'\n') continue;
            lines.emplace_back(), pageBreakBefore.push_back(false);
        } else if (c == u'\n') {
            lines.emplace_back(), pageBreakBefore.push_back(false);
        } else if (c == u'\f') {
            lines.emplace_back(), pageBreakBefore.push_back(true);
        } else {
            std::u16string add = c == u'\t' ? std::u16string(kTabStop - lines.back().size() % kTabStop, u' ')
                                 : c < 0x20 ? std::u16string() : std::u16string(1, c);
            for (char16_t a : add) {
                if (int(lines.back().size()) >= columns) lines.emplace_back(), pageBreakBefore.push_back(false);
                lines.back() += a;
            }
        }
    }
    if (lines.size() > 1 && lines.back().empty() && !pageBreakBefore.back()) lines.pop_back(), pageBreakBefore.pop_back();

    try {
        pdfcore::Document doc;
        doc.GetSettings().compress = true;
        int page = -1, row = rows;
        std::unique_ptr<pdfpaint::PdfPainter> painter;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (row >= rows || pageBreakBefore[i]) {
                if (painter) painter->Finish(), painter.reset(), doc.FinishPageContent(page);
                page = doc.AddPage(paper.width, paper.height);
                painter = std::make_unique<pdfpaint::PdfPainter>(doc, doc.GetPage(page).content);
                row = 0;
            }
            if (!lines[i].empty()) {
                emf::TextRun t;
                t.text = lines[i];
                t.face = "Liberation Mono";
                t.emHeight = kTextSize;
                t.advances.assign(t.text.size(), kCharWidth);
                t.origin = {kMargin, kMargin + kTextSize + row * kLineHeight};
                painter->DrawText(t, {});
            }
            ++row;
        }
        if (painter) painter->Finish(), painter.reset(), doc.FinishPageContent(page);
        doc.Write(path);
        return true;
    } catch (const std::exception& e) {
        error = std::string("the text cannot be typeset: ") + e.what();
        return false;
    }
}

bool WritePicturePdf(std::string_view bytes, const Paper& paper, const std::string& path, std::string& error) {
    std::vector<images::Picture> pictures;
    images::LoadResult r = images::LoadPicturesFromMemory(bytes, pictures);
    if (!r.ok || pictures.empty()) {
        error = "the picture cannot be read: " + r.error;
        return false;
    }
    try {
        pdfcore::Document doc;
        doc.GetSettings().compress = true;
        for (auto& pic : pictures) {
            if (pic.vector || pic.width <= 0 || pic.height <= 0) continue;
            const int page = doc.AddPage(paper.width, paper.height);
            // The picture at its own size when it fits, else fitted; centred.
            const double w = pic.width * 72 / std::max(1.0, pic.dpiX), h = pic.height * 72 / std::max(1.0, pic.dpiY);
            const double room = std::min((paper.width - 2 * kMargin) / w, (paper.height - 2 * kMargin) / h);
            const double s = std::min(1.0, room);
            const double bw = w * s, bh = h * s, x = (paper.width - bw) / 2, y = (paper.height - bh) / 2;
            const std::string name = doc.AddImage(images::ToEncodedImage(std::move(pic.image)));
            const images::Placement m = images::PlaceInBox(pic.orientation, bw, bh);
            pdfcore::ContentBuilder& content = doc.GetPage(page).content;
            content.Save();
            content.Concat(pdfcore::Matrix{m.a, m.b, m.c, m.d, m.e, m.f}.Then(pdfcore::Matrix{1, 0, 0, -1, x, y + bh}));
            content.DrawXObject(name);
            content.Restore();
            doc.FinishPageContent(page);
        }
        if (doc.PageCount() == 0) {
            error = "the picture has no page that can be printed";
            return false;
        }
        doc.Write(path);
        return true;
    } catch (const std::exception& e) {
        error = std::string("the picture cannot be printed: ") + e.what();
        return false;
    }
}

}  // namespace driver
