// Protection: RC4 40 and 128 bits with passwords and permissions, opened with
// the independent tools.
#include <gtest/gtest.h>

#include "pdf_document.h"
#include "tool_support.h"

namespace {

using corvanth::CPdfDocument;
using corvanth::IPdfDocument;
using pdftest::B;
using pdftest::Quote;
using pdftest::RunTool;

std::string MakeProtected(const pdftest::TempDir& tmp, const char* name, int keyLength, bool copy, bool modify,
                          bool print, const std::string& owner) {
    std::string path = tmp.Path(name);
    auto d = com::ComPtr<IPdfDocument>::Attach(static_cast<IPdfDocument*>(CPdfDocument::CreateOwned()));
    d->put_FileName(B(path).Get());
    EXPECT_EQ(d->BeginDoc(), com::S_OK);
    d->put_Compression(1);
    d->put_Encrypt(-1);
    d->put_KeyLength(keyLength);
    d->put_UserPassword(B("user pw").Get());
    d->put_OwnerPassword(B(owner).Get());
    d->put_AllowCopy(copy ? -1 : 0);
    d->put_AllowModify(modify ? -1 : 0);
    d->put_AllowPrint(print ? -1 : 0);
    d->put_Title(B("Secret title").Get());
    d->TextOut(B("Protected text ß").Get(), 20, 20, 0);
    EXPECT_EQ(d->EndDoc(), com::S_OK);
    return path;
}

TEST(PdfProtection, Rc4With128BitKeyAndPermissions) {
    pdftest::TempDir tmp;
    std::string path = MakeProtected(tmp, "p128.pdf", 1, false, false, true, "owner pw");
    EXPECT_NE(RunTool("pdfinfo " + Quote(path)).status, 0);  // no password, no entry
    auto info = RunTool("pdfinfo -upw 'user pw' " + Quote(path));
    ASSERT_EQ(info.status, 0) << info.out;
    EXPECT_EQ(pdftest::Field(info.out, "Encrypted"), "yes (print:yes copy:no change:no addNotes:no algorithm:RC4)");
    EXPECT_EQ(pdftest::Field(info.out, "Title"), "Secret title");
    EXPECT_NE(RunTool("pdftotext -upw 'user pw' " + Quote(path) + " -").out.find("Protected text ß"),
              std::string::npos);
    auto enc = RunTool("qpdf --show-encryption --password='user pw' " + Quote(path));
    EXPECT_NE(enc.out.find("R = 3"), std::string::npos) << enc.out;
    EXPECT_NE(enc.out.find("extract for any purpose: not allowed"), std::string::npos) << enc.out;
    EXPECT_NE(enc.out.find("print high resolution: allowed"), std::string::npos) << enc.out;
    // The owner password unlocks everything.
    EXPECT_EQ(RunTool("qpdf --check --password='owner pw' " + Quote(path)).status, 0);
    auto ownerInfo = RunTool("qpdf --show-encryption --password='owner pw' " + Quote(path)).out;
    EXPECT_NE(ownerInfo.find("Supplied password is owner password"), std::string::npos) << ownerInfo;
}

TEST(PdfProtection, Rc4With40BitKeyAndAnOwnerPasswordNobodyGave) {
    pdftest::TempDir tmp;
    std::string path = MakeProtected(tmp, "p40.pdf", 0, true, true, false, "");
    auto enc = RunTool("qpdf --show-encryption --password='user pw' " + Quote(path));
    EXPECT_NE(enc.out.find("R = 2"), std::string::npos) << enc.out;
    EXPECT_NE(enc.out.find("print low resolution: not allowed"), std::string::npos) << enc.out;
    EXPECT_NE(enc.out.find("modify other: allowed"), std::string::npos) << enc.out;
    // The user password does not double as the owner password: the
    // permissions stay in force.
    EXPECT_NE(enc.out.find("Supplied password is user password"), std::string::npos) << enc.out;
    auto info = RunTool("pdfinfo -upw 'user pw' " + Quote(path));
    EXPECT_NE(info.out.find("print:no copy:yes change:yes"), std::string::npos) << info.out;
    EXPECT_EQ(pdftest::Field(info.out, "PDF version"), "1.4");
}

}  // namespace
