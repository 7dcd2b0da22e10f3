// Printer information through the print service, against a private cupsd
// with the test queue "Vellumate".
#include "platform/printer.h"

#include "cupsd_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace platform;

namespace {

class PrinterInfo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cupsd_.Started());
        ResetPrintService();
    }
    void TearDown() override { ResetPrintService(); }
    vmtest::PrivateCupsd cupsd_;
};

}  // namespace

TEST_F(PrinterInfo, DeviceModeAndListsComeFromThePpdAndDefaults) {
    EXPECT_FALSE(Printer::Open("NoSuchQueue"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
    auto p = Printer::Open("Vellumate");
    ASSERT_TRUE(p);
    DeviceMode dm;
    ASSERT_TRUE(p->DefaultDeviceMode(&dm));
    EXPECT_EQ(dm.printQuality, 600);
    EXPECT_EQ(dm.yResolution, 1200);
    EXPECT_EQ(dm.orientation, 1);
    EXPECT_EQ(dm.paperSize, 9);  // A4
    EXPECT_EQ(dm.formName, "A4");
    EXPECT_EQ(dm.copies, 1);
    EXPECT_EQ(dm.collate, 0);
    EXPECT_EQ(dm.defaultSource, 1);  // "Upper"

    auto papers = p->Papers();
    ASSERT_EQ(papers.size(), 5u);
    EXPECT_EQ(papers[0].code, 9);
    EXPECT_EQ(papers[0].name, "A4");
    EXPECT_EQ(papers[0].width, 2100);
    EXPECT_EQ(papers[0].length, 2970);
    EXPECT_EQ(papers[1].code, 1);
    EXPECT_EQ(papers[1].name, "US Letter");
    EXPECT_EQ(papers[1].width, 2159);
    EXPECT_EQ(papers[1].length, 2794);
    EXPECT_EQ(papers[4].code, 256);  // no Windows code: numbered from 256
    EXPECT_EQ(papers[4].name, "Postkarte 100x150");
    EXPECT_EQ(papers[4].width, 998);

    auto bins = p->Bins();
    ASSERT_EQ(bins.size(), 4u);
    EXPECT_EQ(bins[0].code, 7);
    EXPECT_EQ(bins[1].code, 1);
    EXPECT_EQ(bins[1].name, "Upper Tray");
    EXPECT_EQ(bins[2].code, 4);
    EXPECT_EQ(bins[3].code, 256);

    // Options set on the queue change the device mode.
    std::string lpadmin = "lpadmin -p Vellumate -o orientation-requested-default=4 -o copies-default=3 "
                          "-o PageSize=Legal -o Resolution=300dpi >/dev/null 2>&1";
    ASSERT_EQ(std::system(lpadmin.c_str()), 0);
    ResetPrintService();
    p = Printer::Open("Vellumate");
    ASSERT_TRUE(p && p->DefaultDeviceMode(&dm));
    EXPECT_EQ(dm.orientation, 2);
    EXPECT_EQ(dm.copies, 3);
    EXPECT_EQ(dm.paperSize, 5);
    EXPECT_EQ(dm.printQuality, 300);
    EXPECT_EQ(dm.yResolution, 300);
}

TEST_F(PrinterInfo, JobsAndTheirDeletionAndTheDefaultPrinter) {
    std::string pdf = cupsd_.Folder() + "/job.pdf";
    std::ofstream(pdf) << "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                          "2 0 obj<</Type/Pages/Kids[]/Count 0>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n";
    ASSERT_EQ(std::system(("lp -d Vellumate -t printed-job '" + pdf + "' >/dev/null").c_str()), 0);
    auto p = Printer::Open("Vellumate");
    ASSERT_TRUE(p);
    std::vector<JobInfo> jobs;
    for (int i = 0; i < 200; ++i) {  // the job goes to /dev/null at once
        jobs = p->Jobs(256);
        if (jobs.size() == 1 && (jobs[0].status & JOB_STATUS_PRINTED)) break;
        usleep(50000);
    }
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(jobs[0].status & JOB_STATUS_PRINTED);
    EXPECT_EQ(jobs[0].title, "printed-job");
    EXPECT_TRUE(p->DeleteJob(jobs[0].id));
    EXPECT_TRUE(p->Jobs(256).empty());
    EXPECT_FALSE(p->DeleteJob(jobs[0].id));

    EXPECT_FALSE(SetDefaultPrinter("NoSuchQueue"));
    ASSERT_TRUE(SetDefaultPrinter("Vellumate"));
    EXPECT_EQ(GetDefaultPrinter(), "Vellumate");
}

TEST_F(PrinterInfo, DefaultsWrittenAndFormsJoinThePaperList) {
    std::string reg = cupsd_.Folder() + "/reg";
    setenv("VELLUMATE_REGISTRY", reg.c_str(), 1);
    auto p = Printer::Open("Vellumate");
    ASSERT_TRUE(p);
    auto res = p->Resolutions();
    ASSERT_EQ(res.size(), 2u);
    EXPECT_EQ(res[1], std::make_pair(600, 1200));

    DefaultChanges bad;
    bad.xResolution = 1234;
    bad.yResolution = 1234;
    EXPECT_FALSE(p->SetDefaults(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    DefaultChanges c;
    c.orientation = 2;
    c.xResolution = c.yResolution = 300;
    c.paperSize = 1;  // Letter
    ASSERT_TRUE(p->SetDefaults(c));
    ResetPrintService();
    p = Printer::Open("Vellumate");
    DeviceMode dm;
    ASSERT_TRUE(p && p->DefaultDeviceMode(&dm));
    EXPECT_EQ(dm.orientation, 2);
    EXPECT_EQ(dm.printQuality, 300);
    EXPECT_EQ(dm.yResolution, 300);
    EXPECT_EQ(dm.paperSize, 1);

    // A form: listed after the papers, the default through the queue's media,
    // refused twice, and gone with its deletion.
    ASSERT_TRUE(AddForm({"Index card", 127000, 203200}));
    EXPECT_FALSE(AddForm({"index CARD", 1000, 1000}));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_FALSE(AddForm({"", 1000, 1000}));
    EXPECT_FALSE(AddForm({"a\\b", 1000, 1000}));
    auto papers = p->Papers();
    ASSERT_EQ(papers.size(), 6u);
    EXPECT_EQ(papers[5].name, "Index card");
    EXPECT_EQ(papers[5].code, 257);
    EXPECT_EQ(papers[5].width, 1270);
    EXPECT_EQ(papers[5].length, 2032);
    DefaultChanges form;
    form.paperSize = 257;
    ASSERT_TRUE(p->SetDefaults(form));
    ResetPrintService();
    p = Printer::Open("Vellumate");
    ASSERT_TRUE(p && p->DefaultDeviceMode(&dm));
    EXPECT_EQ(dm.paperSize, 257);
    EXPECT_EQ(dm.formName, "Index card");
    EXPECT_EQ(dm.orientation, 2);  // untouched

    // A form named like a PPD size does not take that size's place.
    ASSERT_TRUE(AddForm({"Legal", 100000, 100000}));
    DefaultChanges legal;
    legal.paperSize = 5;
    ASSERT_TRUE(p->SetDefaults(legal));
    ResetPrintService();
    p = Printer::Open("Vellumate");
    ASSERT_TRUE(p && p->DefaultDeviceMode(&dm));
    EXPECT_EQ(dm.paperSize, 5);
    EXPECT_TRUE(DeleteForm("Legal"));

    EXPECT_TRUE(DeleteForm("Index card"));
    EXPECT_FALSE(DeleteForm("Index card"));
    EXPECT_EQ(p->Papers().size(), 5u);
    unsetenv("VELLUMATE_REGISTRY");
}

TEST(PrinterInfoNoService, NoServiceCannotOpen) {
    setenv("CUPS_SERVER", "/nonexistent/cups.sock", 1);
    ResetPrintService();
    EXPECT_FALSE(Printer::Open("Vellumate"));
    EXPECT_NE(GetLastError(), 0u);
    unsetenv("CUPS_SERVER");
    ResetPrintService();
}
