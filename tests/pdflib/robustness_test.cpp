// Calls in any order with hostile values: every call answers a result code,
// nothing crashes, and whatever was begun still ends in a valid file.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "pdf_document.h"
#include "tool_support.h"

namespace {

using corvanth::CPdfDocument;
using corvanth::IPdfDocument;
using pdftest::B;

TEST(PdfRobustness, RandomCallsWithHostileValues) {
    pdftest::TempDir tmp;
    const double values[] = {0, -1, 1, 1e308, -1e308, std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), 1e-300, 72, 50000};
    const std::int32_t ints[] = {0, -1, 1, 2, 3, 19, 20, 255, 256, -2147483647 - 1, 2147483647};
    const std::string texts[] = {"", "a", "\xff\xfe\x80", std::string(5000, 'x'), "中文", "\xed\xa0\x80", "e\xcc\x81"};
    std::mt19937 rng(20240315);
    auto pick = [&](auto& arr) { return arr[rng() % (sizeof arr / sizeof arr[0])]; };

    for (int round = 0; round < 4; ++round) {
        auto d = com::ComPtr<IPdfDocument>::Attach(static_cast<IPdfDocument*>(CPdfDocument::CreateOwned()));
        std::string path = tmp.Path("r" + std::to_string(round) + ".pdf");
        d->put_FileName(B(path).Get());
        if (round % 2 == 0) {
            ASSERT_EQ(d->BeginDoc(), com::S_OK);
        }
        std::int32_t out = 0;
        double dout = 0;
        for (int i = 0; i < 600; ++i) {
            switch (rng() % 18) {
            case 0: d->TextOut(B(pick(texts)).Get(), pick(values), pick(values), pick(values)); break;
            case 1: d->SetFont(B(pick(texts)).Get(), -1, 0, -1, -1, pick(values), pick(ints)); break;
            case 2: d->put_PageWidth(pick(values)); break;
            case 3: d->put_PageHeight(pick(values)); break;
            case 4: d->put_Resolution(pick(ints)); break;
            case 5: d->put_CurrentPage(pick(ints)); break;
            case 6: d->NewPage(); break;
            case 7: d->CreateGoToAction(pick(ints), pick(values), &out); break;
            case 8: d->AddLink(pick(values), pick(values), pick(values), pick(values), pick(ints)); break;
            case 9: d->AddUrlLink(pick(values), pick(values), pick(values), pick(values), B(pick(texts)).Get()); break;
            case 10: d->AddOutlineSibling(B(pick(texts)).Get(), pick(ints), pick(ints), &out); break;
            case 11: d->AddOutlineChild(B(pick(texts)).Get(), pick(ints), pick(ints), &out); break;
            case 12: d->put_CurrentOutline(pick(ints)); break;
            case 13: d->get_CurrentOutlineParent(&out); break;
            case 14: d->GetTextWidth(B(pick(texts)).Get(), &dout); break;
            case 15: d->put_PaperSize(pick(ints)); break;
            case 16: d->put_CreationDate(pick(values)); break;
            case 17: d->AddDestination(pick(ints), pick(values), &out); break;
            }
        }
        if (round % 2 == 1) {
            ASSERT_EQ(d->BeginDoc(), com::S_OK);
        }
        d->put_Compression(round % 2);
        ASSERT_EQ(d->EndDoc(), com::S_OK);
        auto check = pdftest::RunTool("qpdf --check " + pdftest::Quote(path));
        EXPECT_EQ(check.status, 0) << check.out;
    }
}

}  // namespace
