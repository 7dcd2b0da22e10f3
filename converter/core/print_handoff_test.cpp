// The print-job hand-off against a private registry and print service: the
// values written for pathprobe and put back as they were, the default
// printer, the waits, and reading a ticket's pages.
#include "print_handoff.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "cupsd_fixture.h"
#include "platform/printer.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "printer/shared/names.h"

namespace vellumate {
namespace {

namespace fs = std::filesystem;
using platform::HKEY_LOCAL_MACHINE;

class PrintHandoffTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vmhandoff-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir_ = tmpl;
        setenv("VELLUMATE_REGISTRY", (dir_ + "/reg").c_str(), 1);
        fs::create_directories(dir_ + "/run");
        fs::permissions(dir_ + "/run", fs::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
        setenv("VELLUMATE_UI", "none", 1);
        fs::create_directories(dir_ + "/bin");
        ctx_.programPath = dir_ + "/bin/vellumate";
        ctx_.interactive = false;
    }
    void TearDown() override {
        platform::ResetPrintService();
        fs::remove_all(dir_);
    }
    std::string Value(const char* name) {
        std::string v = "(none)";
        platform::RegGetString(HKEY_LOCAL_MACHINE, kHandoffKey, name, &v);
        return v;
    }
    std::string Number(const char* name) {
        platform::DWORD v = 0;
        if (platform::RegGetDword(HKEY_LOCAL_MACHINE, kHandoffKey, name, &v) != platform::ERROR_SUCCESS) return "(none)";
        return std::to_string(v);
    }
    void Pathprobe() { std::ofstream(dir_ + "/bin/pathprobe") << "#!/bin/sh\n"; }

    std::string dir_;
    ConversionContext ctx_;
};

TEST_F(PrintHandoffTest, CommandLineRunPointsThePipelineAtPathprobeAndPutsEverythingBack) {
    vmtest::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Started());
    platform::ResetPrintService();
    Pathprobe();
    platform::RegSetString(HKEY_LOCAL_MACHINE, kHandoffKey, "Client Application", "/opt/other/client");
    platform::RegSetDword(HKEY_LOCAL_MACHINE, kHandoffKey, "Message ID", 7);
    platform::RegSetString(HKEY_LOCAL_MACHINE, kHandoffKey, "tmpIniPath", "/stale/from/an/old/run.INI");
    const std::string before = platform::GetDefaultPrinter();

    PrintHandoff h;
    ASSERT_EQ(SetUpPrintHandoff(ctx_, &h), 0);
    EXPECT_EQ(platform::GetDefaultPrinter(), "Vellumate");
    EXPECT_EQ(Value("Client application"), dir_ + "/bin/pathprobe");
    EXPECT_EQ(Value("Target window title"), "");
    EXPECT_EQ(Number("Message ID"), "4294967295");
    EXPECT_EQ(Number("Transfer mode"), "0");
    EXPECT_EQ(Value("tmpIniPath"), "");  // an old run's job is not this one's

    // The helper publishes the path while we wait; the wait wakes and trims it.
    std::thread helper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        platform::RegSetString(HKEY_LOCAL_MACHINE, kHandoffKey, "tmpIniPath", "  /run/spool/0000abcd.INI \r\n");
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForPrintJob(ctx_, std::chrono::seconds(30)), JobWait::Arrived);
    helper.join();
    EXPECT_EQ(ctx_.receivedPrintJob, "/run/spool/0000abcd.INI");
    (void)start;

    RestorePrintHandoff(&h);
    RestorePrintHandoff(&h);  // a second time changes nothing
    EXPECT_EQ(Value("Client application"), "/opt/other/client");
    EXPECT_EQ(Number("Message ID"), "7");
    EXPECT_EQ(Value("Target window title"), "(none)");
    EXPECT_EQ(Number("Transfer mode"), "(none)");
    EXPECT_EQ(Value("tmpIniPath"), "");
    EXPECT_EQ(platform::GetDefaultPrinter(), before);
}

TEST_F(PrintHandoffTest, WithoutTheQueueOrThePathprobeNothingStaysChanged) {
    {
        vmtest::PrivateCupsd empty("");
        ASSERT_TRUE(empty.Started());
        platform::ResetPrintService();
        Pathprobe();
        PrintHandoff h;
        EXPECT_EQ(SetUpPrintHandoff(ctx_, &h), kPrinterFailed);
        EXPECT_EQ(Value("Client application"), "(none)");
        EXPECT_EQ(platform::GetDefaultPrinter(), "");
        fs::remove(dir_ + "/bin/pathprobe");
    }
    platform::ResetPrintService();
    vmtest::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Started());
    platform::ResetPrintService();
    const std::string before = platform::GetDefaultPrinter();
    PrintHandoff h;
    EXPECT_EQ(SetUpPrintHandoff(ctx_, &h), kPrintJobFailed);
    EXPECT_EQ(Value("Client application"), "(none)");
    EXPECT_EQ(platform::GetDefaultPrinter(), before);
}

// A progress window whose message pump delivers the job after a few rounds,
// as the main window's WM_COPYDATA handler does.
class PumpingWindow : public IProgress {
public:
    PumpingWindow(ConversionContext& ctx, int rounds, bool cancel) : ctx_(ctx), rounds_(rounds), cancel_(cancel) {}
    bool Cancelled() const override { return cancel_ && pumped_ > 2; }
    void Advance(int) override {}
    void SetStatus(const std::string& text) override { status_ = text; }
    void ProcessMessages() override {
        if (++pumped_ == rounds_) ctx_.receivedPrintJob = "/spool/job.INI";
    }
    int pumped_ = 0;
    std::string status_;

private:
    ConversionContext& ctx_;
    int rounds_;
    bool cancel_;
};

TEST_F(PrintHandoffTest, WaitsEndWithTheWindowsMessageACancelOrTheBound) {
    int window = 0;
    ctx_.interactive = true;
    ctx_.mainWindow = &window;
    PumpingWindow delivering(ctx_, 5, false);
    ctx_.progress = &delivering;
    EXPECT_EQ(WaitForPrintJob(ctx_, std::chrono::milliseconds::max()), JobWait::Arrived);
    EXPECT_EQ(delivering.pumped_, 5);
    EXPECT_EQ(ctx_.receivedPrintJob, "/spool/job.INI");

    ctx_.receivedPrintJob.clear();
    PumpingWindow cancelling(ctx_, 1000, true);
    ctx_.progress = &cancelling;
    EXPECT_EQ(WaitForPrintJob(ctx_, std::chrono::milliseconds::max()), JobWait::Cancelled);
    EXPECT_TRUE(ctx_.receivedPrintJob.empty());

    // A command-line run whose job never comes ends at the bound.
    ctx_.interactive = false;
    ctx_.mainWindow = nullptr;
    ctx_.progress = nullptr;
    EXPECT_EQ(WaitForPrintJob(ctx_, std::chrono::milliseconds(200)), JobWait::TimedOut);
}

TEST_F(PrintHandoffTest, TicketPagesAreTakenInOrderAndOnlyFromTheSpoolFolder) {
    const std::string spool = vmshared::SpoolFolder();
    ASSERT_FALSE(spool.empty());
    const std::string ticket = spool + "0000abcd.INI";
    for (const char* page : {"a.emf", "b.emf", "c.emf"}) std::ofstream(spool + page) << "page";
    std::ofstream(dir_ + "/elsewhere.emf") << "not ours";
    platform::ProfileSetString(ticket, "EMF", "Count", "5");
    platform::ProfileSetString(ticket, "EMF", "File0", spool + "c.emf");
    platform::ProfileSetString(ticket, "EMF", "File1", dir_ + "/elsewhere.emf");
    platform::ProfileSetString(ticket, "EMF", "File2", spool + "a.emf");
    platform::ProfileSetString(ticket, "EMF", "File3", "/etc/passwd");
    platform::ProfileSetString(ticket, "EMF", "File4", spool + "b.emf");
    ctx_.receivedPrintJob = ticket;
    EXPECT_EQ(TakePrintedPages(ctx_), 3);
    EXPECT_EQ(ctx_.temporaryFiles, (std::vector<std::string>{spool + "c.emf", spool + "a.emf", spool + "b.emf"}));
    EXPECT_FALSE(fs::exists(ticket));
    EXPECT_TRUE(ctx_.receivedPrintJob.empty());

    // A ticket outside the spool folder is neither read nor deleted.
    const std::string foreign = dir_ + "/0000abcd.INI";
    platform::ProfileSetString(foreign, "EMF", "Count", "1");
    platform::ProfileSetString(foreign, "EMF", "File0", spool + "a.emf");
    ctx_.temporaryFiles.clear();
    ctx_.receivedPrintJob = foreign;
    EXPECT_EQ(TakePrintedPages(ctx_), 0);
    EXPECT_TRUE(ctx_.temporaryFiles.empty());
    EXPECT_TRUE(fs::exists(foreign));
}

TEST_F(PrintHandoffTest, PrintedPagesScaleByTheirMetafilesResolution) {
    // An EMR_HEADER of a 600 dpi device (6000 pixels in 254 mm).
    unsigned char header[108] = {1};
    auto put = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) header[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    put(72, 6000), put(76, 6000), put(80, 254), put(84, 254);
    const std::string page = dir_ + "/page.emf";
    std::ofstream(page, std::ios::binary).write(reinterpret_cast<const char*>(header), sizeof header);
    const std::vector<std::string> files = {page, dir_ + "/missing.emf"};
    EXPECT_DOUBLE_EQ(PrintedPageScale(files, 0, 96), 96.0 / 600.0);
    EXPECT_DOUBLE_EQ(PrintedPageScale(files, 1, 96), 96.0 / 300.0);
    EXPECT_DOUBLE_EQ(PrintedPageScale(files, 7, 72), 72.0 / 300.0);
}

}  // namespace
}  // namespace vellumate
