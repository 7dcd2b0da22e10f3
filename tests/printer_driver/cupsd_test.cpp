// The queue "Vellumate" on a private cupsd started by the test (own
// configuration folder, socket, spool and backend folder): `lp` of a text
// file, a PDF and a picture becomes the right number of metafile pages in the
// printing user's spool folder and a ticket of the dispatcher; one user's job
// never lands in another user's folder. Needs root (cupsd and the backend
// switch users); skipped otherwise.
#include "test_output.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "pdfcore/document.h"
#include "pdfpaint/painter.h"

namespace {

namespace fs = std::filesystem;

// Standard error too.
std::string Shell(const std::string& cmd) { return vmtest::Shell(cmd + " 2>&1"); }

void Write(const fs::path& p, const std::string& text, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
    std::ofstream(p, std::ios::binary) << text;
    fs::permissions(p, perms);
}

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class PrivateCupsd : public ::testing::Test {
protected:
    fs::path root = fs::temp_directory_path() / ("vm_cupsd_" + std::to_string(::getpid()));
    fs::path sock = root / "cups.sock";
    bool running = false;

    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "cupsd and the backend need root";
        if (!fs::exists("/usr/sbin/cupsd")) GTEST_FAIL() << "cupsd is installed by scripts/install-deps.sh";
        fs::create_directories(root);
        fs::permissions(root, fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
        const std::string started = Shell(std::string(VM_TEST_SUPPORT_DIR) + "/cupsd-fixture.sh start-printer " +
                                          root.string() + " " + VM_BIN + "/vellumate-backend " + VM_PPD + " " +
                                          VM_BIN + " > /dev/null 2>&1; echo rc=$?");  // cupsd keeps what it inherits
        running = true;
        ASSERT_NE(started.find("rc=0"), std::string::npos) << Read(root / "log/error_log");
        ::setenv("CUPS_SERVER", sock.c_str(), 1);
        ::setenv("CUPS_SERVERROOT", root.c_str(), 1);
    }

    void TearDown() override {
        if (running) Shell(std::string(VM_TEST_SUPPORT_DIR) + "/cupsd-fixture.sh stop " + root.string());
        ::unsetenv("CUPS_SERVER");
        ::unsetenv("CUPS_SERVERROOT");
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // The login-session folder of a user, made as logind makes it.
    fs::path Session(const passwd& pw) {
        fs::path s = root / "runuser" / std::to_string(pw.pw_uid);
        fs::create_directories(s);
        EXPECT_EQ(::chown(s.c_str(), pw.pw_uid, pw.pw_gid), 0);
        fs::permissions(s, fs::perms::owner_all);
        return s / "vellumate/spool";
    }

    // Prints and waits until the job is done; its id.
    int Print(const std::string& user, const fs::path& file, const std::string& title) {
        const std::string out = Shell("lp -d Vellumate -U " + user + " -t '" + title + "' " + file.string());
        int job = 0;
        EXPECT_EQ(std::sscanf(out.c_str(), "request id is Vellumate-%d", &job), 1) << out;
        for (int i = 0; i < 600; ++i) {
            if (Shell("lpstat -W not-completed -o Vellumate").empty()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return job;
    }

    static std::vector<std::string> Files(const fs::path& spool, const std::string& suffix) {
        std::vector<std::string> names;
        std::error_code ec;
        for (auto& e : fs::directory_iterator(spool, ec)) {
            const std::string n = e.path().filename().string();
            if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0) names.push_back(n);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(PrivateCupsd, TextPdfAndPicturesBecomePagesAndATicketOfThePrintingUser) {
    const passwd nobody = *::getpwnam("nobody");
    const passwd daemonUser = *::getpwnam("daemon");
    const fs::path spoolA = Session(nobody), spoolB = Session(daemonUser);

    // A text of 100 lines (two A4 pages), a PDF of ours with 3 pages, a picture.
    std::string text;
    for (int i = 0; i < 100; ++i) text += "printed line " + std::to_string(i) + "\n";
    Write(root / "job.txt", text, fs::perms::all);
    pdfcore::Document doc;
    for (int p = 0; p < 3; ++p) {
        doc.AddPage(612, 792);
        pdfpaint::PdfPainter painter(doc, doc.GetPage(p).content);
        emf::TextRun t;
        t.face = "Liberation Sans", t.text = u"page of a PDF", t.origin = {72, 72};
        painter.DrawText(t, {});
        painter.Finish();
    }
    doc.Write((root / "job.pdf").string());
    fs::permissions(root / "job.pdf", fs::perms::all);
    // A 1x1 grey PNG.
    const unsigned char png[] = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
                                 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x3a, 0x7e, 0x9b,
                                 0x55, 0x00, 0x00, 0x00, 0x0a, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x68, 0x00, 0x00, 0x00,
                                 0x82, 0x00, 0x81, 0x77, 0xcd, 0x72, 0xb6, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae,
                                 0x42, 0x60, 0x82};
    Write(root / "job.png", std::string(reinterpret_cast<const char*>(png), sizeof png), fs::perms::all);

    const int textJob = Print("nobody", root / "job.txt", "Quarterly report");
    const int pdfJob = Print("daemon", root / "job.pdf", "A \"quoted\" title");
    const int pngJob = Print("nobody", root / "job.png", "picture");
    const std::string log = Read(root / "log/error_log");

    // Each user's folder holds that user's jobs only: 2 + 1 pages for nobody, 3 for daemon.
    auto emfA = Files(spoolA, ".emf"), emfB = Files(spoolB, ".emf");
    std::vector<std::string> wantA, wantB;
    for (int p = 1; p <= 2; ++p) wantA.push_back("~emf" + std::to_string(textJob) + "-000" + std::to_string(p) + ".emf");
    wantA.push_back("~emf" + std::to_string(pngJob) + "-0001.emf");
    for (int p = 1; p <= 3; ++p) wantB.push_back("~emf" + std::to_string(pdfJob) + "-000" + std::to_string(p) + ".emf");
    std::sort(wantA.begin(), wantA.end());
    EXPECT_EQ(emfA, wantA) << log;
    EXPECT_EQ(emfB, wantB) << log;
    // The backend's own page files are gone once the dispatcher has run.
    EXPECT_TRUE(Files(spoolA, ".tmp").empty());
    EXPECT_TRUE(Files(spoolB, ".tmp").empty());

    // Tickets written by the dispatcher as the printing user, with the title
    // and the pages in order.
    auto ticketsA = Files(spoolA, ".INI"), ticketsB = Files(spoolB, ".INI");
    ASSERT_EQ(ticketsA.size(), 2u) << log;
    ASSERT_EQ(ticketsB.size(), 1u) << log;
    const std::string b = Read(spoolB / ticketsB[0]);
    EXPECT_NE(b.find("Name=A \"quoted\" title"), std::string::npos) << b;
    EXPECT_NE(b.find("Pages=3"), std::string::npos) << b;
    EXPECT_NE(b.find("File2=" + (spoolB / wantB[2]).string()), std::string::npos) << b;
    EXPECT_NE(b.find("PaperSizeName=A4"), std::string::npos) << b;
    for (const fs::path& f : {spoolB / ticketsB[0], spoolB / emfB[0]}) {
        struct stat st;
        ASSERT_EQ(::stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, daemonUser.pw_uid) << f;
    }
}

TEST_F(PrivateCupsd, JobsOfRootAndOfUnknownUsersAreRefused) {
    Write(root / "job.txt", "hello\n", fs::perms::all);
    Print("root", root / "job.txt", "as root");
    Print("no-such-user-here", root / "job.txt", "stranger");
    const std::string log = Read(root / "log/error_log");
    EXPECT_NE(log.find("jobs of root are not printed to Vellumate"), std::string::npos) << log;
    EXPECT_NE(log.find("no-such-user-here\\\" is unknown"), std::string::npos) << log;  // the log escapes quotes
    // The queue goes on printing.
    EXPECT_NE(Shell("lpstat -p Vellumate").find("idle"), std::string::npos);
}

}  // namespace
