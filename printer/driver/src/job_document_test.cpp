// Jobs that are not PDFs (text, pictures) made into PDFs for the page
// converter, and the paper a job asks for, read from the queue's PPD.
#include "job_document.h"

#include "test_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "pagedraw/pdf_pages.h"
#include "test/fixtures.h"
#include "user_spool.h"

namespace driver {
namespace {

namespace fs = std::filesystem;

using vmtest::Shell;

class JobDocument : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("vm_printjob_" + std::to_string(::getpid()));
    std::string pdf = (dir / "job.pdf").string();
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    int Pages() {
        std::string error;
        auto pages = pagedraw::PdfPages::Open(pdf, error);
        EXPECT_TRUE(pages) << error;
        return pages ? pages->PageCount() : 0;
    }
};

TEST_F(JobDocument, TheJobsPaperComesFromItsOptionsOrTheQueuesDefault) {
    std::ifstream in(VM_PPD);
    const std::string ppd((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(ChoosePaper(ppd, "").name, "A4");
    const Paper letter = ChoosePaper(ppd, "job-uuid=x PageSize=Letter number-up=1");
    EXPECT_EQ(letter.name, "Letter");
    EXPECT_DOUBLE_EQ(letter.width, 612);
    EXPECT_DOUBLE_EQ(letter.height, 792);
    EXPECT_EQ(ChoosePaper(ppd, "media=a5").name, "A5");          // any case
    EXPECT_EQ(ChoosePaper(ppd, "media=Poster").name, "A4");      // not a size of the queue
    EXPECT_EQ(ChoosePaper(ppd, "Xmedia=Letter").name, "A4");     // only whole option names
    EXPECT_EQ(ChoosePaper("", "PageSize=Letter").name, "A4");    // no PPD at all
}

images::test::PngSpec SmallPng() {
    images::test::PngSpec png;
    png.width = 2, png.height = 2;
    png.rows = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    return png;
}

TEST_F(JobDocument, JobsAreToldApartByTheirBytes) {
    EXPECT_EQ(Sniff("%PDF-1.4\n..."), JobKind::Pdf);
    EXPECT_EQ(Sniff("\xEF\xBB\xBF%PDF-1.7"), JobKind::Pdf);
    EXPECT_EQ(Sniff(images::test::MakePng(SmallPng())), JobKind::Picture);
    EXPECT_EQ(Sniff(images::test::MakeJpeg({})), JobKind::Picture);
    EXPECT_EQ(Sniff("Dear reader,\n"), JobKind::Text);
    EXPECT_EQ(Sniff(""), JobKind::Text);
}

TEST_F(JobDocument, TextIsTypesetWithItsLinesTabsFormFeedsAndLongLines) {
    std::string text = "first\tcolumn\r\n";
    for (int i = 0; i < 70; ++i) text += "line " + std::to_string(i) + "\n";  // A4 holds 64 lines
    text += "\fafter the form feed\n" + std::string(200, 'x') + "\n";
    text += "caf\xe9 in Latin-1\n";  // not UTF-8: read as Windows-1252
    std::string error;
    ASSERT_TRUE(WriteTextPdf(text, Paper{}, pdf, error)) << error;
    EXPECT_EQ(Pages(), 3);
    const std::string out = Shell("pdftotext -layout " + pdf + " -");
    EXPECT_NE(out.find("first   column"), std::string::npos) << out;
    EXPECT_NE(out.find("line 69"), std::string::npos);
    EXPECT_NE(out.find("\fafter the form feed"), std::string::npos);
    EXPECT_NE(out.find(std::string(87, 'x') + "\n"), std::string::npos);  // wrapped at the margin
    EXPECT_NE(out.find("caf\xc3\xa9 in Latin-1"), std::string::npos);

    ASSERT_TRUE(WriteTextPdf("", Paper{}, pdf, error)) << error;
    EXPECT_EQ(Pages(), 1);  // an empty job is one empty page
}

TEST_F(JobDocument, EveryPictureBecomesAPageAndABrokenOneAnError) {
    std::string error;
    ASSERT_TRUE(WritePicturePdf(images::test::MakePng(SmallPng()), Paper{}, pdf, error)) << error;
    EXPECT_EQ(Pages(), 1);
    EXPECT_FALSE(WritePicturePdf("\x89PNG\r\n\x1a\n broken", Paper{}, pdf, error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
}

TEST_F(JobDocument, PageFilesSortInPageOrder) {
    EXPECT_EQ(PageFileName(12, 1), "~emf12-0001.tmp");
    EXPECT_LT(PageFileName(12, 2), PageFileName(12, 10));
    EXPECT_EQ(PageFileName(7, 12345), "~emf7-12345.tmp");
}

}  // namespace
}  // namespace driver
