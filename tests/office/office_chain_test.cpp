// Office documents through the whole chain, as the user `nobody` (see
// tests/support/office-chain.sh): vellumate and LibreOffice print to the
// queue "Vellumate" of a private cupsd, the backend and dispatcher make the
// pages, the agent runs vmrelay and pathprobe, vellumate imports the pages.
// Checked with poppler's tools against LibreOffice's own export. Needs root
// (cupsd, the backend, switching to the user); skipped otherwise.
#include "test_output.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kSamples = "/usr/share/gocode/src/github.com/gabriel-vasile/mimetype/testdata/";

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::set<std::string> Words(const std::string& text) {
    std::set<std::string> words;
    std::istringstream in(text);
    std::string w;
    while (in >> w) words.insert(w);
    return words;
}

struct PageSize {
    double w = 0, h = 0;
};

class OfficeChain : public ::testing::Test {
protected:
    static inline std::string dir_;
    static inline bool started_ = false;

    static std::string Chain() { return std::string(VM_TEST_SUPPORT_DIR) + "/office-chain.sh"; }

    static void SetUpTestSuite() {
        if (::geteuid() != 0 || !fs::exists("/usr/sbin/cupsd") || !fs::exists("/usr/bin/soffice")) return;
        dir_ = (fs::temp_directory_path() / ("vm_office_" + std::to_string(::getpid()))).string();
        fs::remove_all(dir_);
        const std::string out = vmtest::Shell(Chain() + " start " + dir_ + " " + VM_BIN_DIR + " " + VM_LIB_DIR + " " +
                                              VM_SOURCE_DIR + " 2>&1; echo rc=$?");
        started_ = out.find("rc=0") != std::string::npos;
        if (!started_) std::fprintf(stderr, "%s\n", out.c_str());
    }
    static void TearDownTestSuite() {
        if (dir_.empty()) return;
        vmtest::Shell(Chain() + " stop " + dir_ + " >/dev/null 2>&1");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "cupsd, the backend and the user switch need root";
        ASSERT_TRUE(started_) << "the chain did not start";
        OfficeLog();
    }

    // A document for the user: copied into the user's folder under `name`.
    static std::string Doc(const std::string& from, const std::string& name) {
        const std::string to = dir_ + "/docs/" + name;
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        vmtest::Shell("chown nobody " + Quote(to));
        return to;
    }
    static std::string Out(const std::string& name) { return dir_ + "/docs/" + name; }

    // Runs a command as the user; its exit status (standard error into *err).
    static int AsUser(const std::string& command, std::string* err = nullptr) {
        const std::string errFile = dir_ + "/stderr.txt";
        const std::string out =
            vmtest::Shell(Chain() + " run " + dir_ + " " + command + " 2>" + Quote(errFile) + "; echo $?");
        if (err) *err = vmtest::ReadFile(errFile);
        return std::atoi(out.c_str());
    }
    static int Vellumate(const std::string& args, std::string* err = nullptr) {
        return AsUser(std::string(VM_BIN_DIR) + "/vellumate " + args, err);
    }

    static std::string Text(const std::string& pdf) { return vmtest::Shell("pdftotext -q " + Quote(pdf) + " - 2>/dev/null"); }
    static std::vector<PageSize> Pages(const std::string& pdf) {
        std::vector<PageSize> pages;
        std::istringstream in(vmtest::Shell("pdfinfo -f 1 -l 1000 " + Quote(pdf) + " 2>/dev/null"));
        std::string line;
        while (std::getline(in, line)) {
            PageSize p;
            int n = 0;
            if (std::sscanf(line.c_str(), "Page %d size: %lf x %lf", &n, &p.w, &p.h) == 3) pages.push_back(p);
        }
        return pages;
    }
    // LibreOffice's own export of the files (one process for all), for the words and pages they hold.
    static std::string References(const std::vector<std::string>& sources) {
        const std::string out = dir_ + "/reference";
        fs::create_directories(out);
        std::string files;
        for (const std::string& f : sources) files += " " + Quote(f);
        vmtest::Shell("cd " + out + " && HOME=" + out + " timeout 600 soffice --headless -env:UserInstallation=file://" +
                      out + "/profile --convert-to pdf --outdir " + out + files + " >/dev/null 2>&1");
        return out;
    }
    static std::string Registry(const std::string& value) {
        std::string err;
        const std::string out = vmtest::Shell(Chain() + " run " + dir_ + " " + VM_BIN_DIR +
                                              "/reg query 'HKLM\\SOFTWARE\\Vellumate' /v " + Quote(value) +
                                              " 2>/dev/null");
        return out;
    }
    static std::string DefaultPrinter() {
        return vmtest::Shell(Chain() + " run " + dir_ + " /usr/bin/lpstat -d 2>&1");
    }
    // An office of this suite's runs (its profile is in the user's temporary folder).
    static bool OfficeLeft() {
        const std::string mark = "UserInstallation=file://" + dir_ + "/tmp/";
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/proc", ec))
            if (vmtest::ReadFile(e.path().string() + "/cmdline").find(mark) != std::string::npos) return true;
        return false;
    }
    // The office log's lines since the last call: the office's ("office
    // started PID", "office ended PID"), and the documents' into *documents.
    static std::vector<std::string> OfficeLog(std::vector<std::string>* documents = nullptr) {
        const std::string file = dir_ + "/home/office.log";
        std::vector<std::string> lines;
        std::istringstream in(vmtest::ReadFile(file));
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("office ", 0) == 0) lines.push_back(line.substr(0, line.rfind(' ')));
            else if (documents) documents->push_back(line);
        }
        std::error_code ec;
        fs::remove(file, ec);  // the user makes it again (the folder is theirs)
        return lines;
    }
    static const std::vector<std::string>& OneOffice() {
        static const std::vector<std::string> one = {"office started", "office ended"};
        return one;
    }
    // Page files and tickets left in the user's spool folder.
    static std::vector<std::string> SpoolFiles() {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(dir_ + "/runuser", ec)) {
            const std::string ext = e.path().extension().string();
            if (e.is_regular_file() && (ext == ".emf" || ext == ".INI" || ext == ".tmp"))
                names.push_back(e.path().filename().string());
        }
        return names;
    }
};

TEST_F(OfficeChain, TextSheetsAndSlidesKeepTheirPagesSizesAndWordsAndEverythingIsPutBack) {
    std::string err;
    ASSERT_EQ(Vellumate(Doc(std::string(VM_OFFICE_FIXTURES) + "/letter.fodt", "letter.odt") + " " + Out("letter.pdf"),
                        &err),
              0)
        << err;
    // Two A5 landscape pages, in order, every word there, the fonts embedded.
    auto pages = Pages(Out("letter.pdf"));
    ASSERT_EQ(pages.size(), 2u);
    for (const PageSize& p : pages) {
        EXPECT_NEAR(p.w, 595.3, 1.5);
        EXPECT_NEAR(p.h, 419.5, 1.5);
    }
    const std::string text = Text(Out("letter.pdf"));
    EXPECT_LT(text.find("almanac"), text.find("marbled gulls"));
    EXPECT_LT(text.find("marbled gulls"), text.find("tangerine windmill ledger"));
    EXPECT_EQ(vmtest::Shell("pdffonts " + Quote(Out("letter.pdf")) + " | tail -n +3 | awk '{print $(NF-4)}' | sort -u"),
              "yes\n");

    // Every sheet of the workbook, not only the active one.
    ASSERT_EQ(Vellumate(Doc(std::string(VM_OFFICE_FIXTURES) + "/workbook.fods", "workbook.ods") + " " +
                            Out("workbook.pdf"),
                        &err),
              0)
        << err;
    const std::string sheets = Text(Out("workbook.pdf"));
    EXPECT_EQ(Pages(Out("workbook.pdf")).size(), 3u);
    for (const char* w : {"pomegranate", "buckwheat", "elderflower"}) EXPECT_NE(sheets.find(w), std::string::npos) << w;

    // Three slides of their own size.
    ASSERT_EQ(Vellumate(Doc(std::string(VM_OFFICE_FIXTURES) + "/slides.fodp", "slides.odp") + " " + Out("slides.pdf"),
                        &err),
              0)
        << err;
    pages = Pages(Out("slides.pdf"));
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_NEAR(pages[0].w, 793.7, 2);
    EXPECT_NEAR(pages[0].h, 446.5, 2);
    const std::string slides = Text(Out("slides.pdf"));
    EXPECT_LT(slides.find("Marigold"), slides.find("Juniper"));
    // Where the slide puts it: its frame at 2 cm (57 pt) plus the text inset, nothing cut off.
    double xMin = 0;
    const std::string box = vmtest::Shell("pdftotext -q -f 1 -l 1 -bbox " + Quote(Out("slides.pdf")) +
                                          " - | grep '>Marigold<'");
    ASSERT_EQ(std::sscanf(box.c_str(), " <word xMin=\"%lf\"", &xMin), 1) << box;
    EXPECT_NEAR(xMin, 64, 6);
    EXPECT_LT(slides.find("Juniper"), slides.find("Saffron"));

    // The hand-off values as they were (none), the ticket value empty, the
    // user's default printer as it was, no page file and no office left.
    EXPECT_EQ(Registry("Client application"), "");
    EXPECT_EQ(Registry("Transfer mode"), "");
    EXPECT_NE(Registry("tmpIniPath").find("tmpIniPath    REG_SZ"), std::string::npos);
    EXPECT_EQ(DefaultPrinter().find("Vellumate"), std::string::npos) << DefaultPrinter();
    EXPECT_EQ(SpoolFiles(), std::vector<std::string>{});
    EXPECT_FALSE(OfficeLeft());
    // Nothing was written beside the documents but the outputs (no lock files).
    for (const auto& e : fs::directory_iterator(dir_ + "/docs"))
        EXPECT_EQ(e.path().filename().string().rfind(".~lock", 0), std::string::npos) << e.path();
}

TEST_F(OfficeChain, ForcedSizesGiveTheSettingsPaperAndPageNumbers) {
    std::string err;
    ASSERT_EQ(Vellumate(Doc(std::string(VM_OFFICE_FIXTURES) + "/letter.fodt", "forced.odt") + " " + Out("forced.pdf") +
                            " /forcesizes yes /psize a4 /porient portrait /pagenumbers yes",
                        &err),
              0)
        << err;
    auto pages = Pages(Out("forced.pdf"));
    ASSERT_FALSE(pages.empty());
    for (const PageSize& p : pages) {
        EXPECT_NEAR(p.w, 595.3, 1.5);
        EXPECT_NEAR(p.h, 841.9, 1.5);
    }
    const std::string text = Text(Out("forced.pdf"));
    EXPECT_NE(text.find("marbled gulls"), std::string::npos);
    EXPECT_NE(text.find("Page 1"), std::string::npos);
}

TEST_F(OfficeChain, RealDocumentsKeepEveryWordOfLibreOfficesOwnExport) {
    const std::vector<std::string> names = {"docx.docx", "odt.odt", "doc.doc", "xlsx.xlsx", "ods.ods",
                                            "xls.xls",   "pptx.pptx", "odp.odp", "ppt.ppt"};
    std::vector<std::string> sources;
    for (const std::string& name : names) sources.push_back(kSamples + name);
    const std::string reference = References(sources);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string theirs = reference + "/" + fs::path(name).stem().string() + ".pdf";
        const std::string source = Doc(kSamples + name, name);
        const std::string out = Out(name + ".pdf");
        std::string err;
        ASSERT_EQ(Vellumate(source + " " + out, &err), 0) << err;
        const std::set<std::string> ours = Words(Text(out));
        std::vector<std::string> missing;
        for (const std::string& w : Words(Text(theirs)))
            if (!ours.count(w)) missing.push_back(w);
        EXPECT_TRUE(missing.empty()) << missing.size() << " words missing, first " << missing.front();
        EXPECT_EQ(Pages(out).size(), Pages(theirs).size());
    }
    EXPECT_FALSE(OfficeLeft());
}

TEST_F(OfficeChain, MergedRunOfOfficeHtmlAndPictureHasOneOutlinePerFile) {
    const std::string html = Out("note.html");
    std::ofstream(html) << "<html><body><p>Hawthorn lantern</p></body></html>";
    vmtest::Shell("chown nobody " + Quote(html));
    const std::string list = Out("in.txt"), outList = Out("out.txt");
    std::ofstream(list) << Doc(std::string(VM_OFFICE_FIXTURES) + "/letter.fodt", "merged.odt") << "\n"
                        << html << "\n"
                        << Doc(std::string(VM_OFFICE_FIXTURES) + "/slides.fodp", "merged.odp") << "\n";
    std::ofstream(outList) << Out("merged.pdf") << "\n";
    vmtest::Shell("chown nobody " + Quote(list) + " " + Quote(outList));
    std::string err;
    ASSERT_EQ(Vellumate("/inlist " + list + " /outlist " + outList + " /all2one yes", &err), 0) << err;
    EXPECT_EQ(Pages(Out("merged.pdf")).size(), 2u + 1u + 3u);
    const std::string text = Text(Out("merged.pdf"));
    EXPECT_LT(text.find("tangerine"), text.find("Hawthorn lantern"));
    EXPECT_LT(text.find("Hawthorn lantern"), text.find("Saffron"));
    const std::string outlines = vmtest::Shell("qpdf --json --json-key=outlines " + Quote(Out("merged.pdf")) +
                                               " | grep -o '\"title\": \"[^\"]*\"'");
    EXPECT_EQ(outlines, "\"title\": \"merged\"\n\"title\": \"note\"\n\"title\": \"merged\"\n");
    // One office for both Office files, ended with the run.
    EXPECT_EQ(OfficeLog(), OneOffice());
    EXPECT_FALSE(OfficeLeft());
}

TEST_F(OfficeChain, OneOfficePrintsEveryDocumentOfAListLoadingEachOnceAhead) {
    const std::string list = Out("several.txt");
    const std::string text = Doc(std::string(VM_OFFICE_FIXTURES) + "/letter.fodt", "several.odt");
    const std::string book = Doc(std::string(VM_OFFICE_FIXTURES) + "/workbook.fods", "several.ods");
    const std::string slides = Doc(std::string(VM_OFFICE_FIXTURES) + "/slides.fodp", "several.odp");
    std::ofstream(list) << text << "\n" << book << "\n" << slides << "\n" << text << "\n";
    vmtest::Shell("chown nobody " + Quote(list));
    std::string err;
    ASSERT_EQ(Vellumate("/inlist " + list + " /outdir " + Out(""), &err), 0) << err;
    // The pages and words each file has when it is converted alone.
    const std::vector<PageSize> letter = Pages(Out("several.odt.pdf"));
    ASSERT_EQ(letter.size(), 2u);
    EXPECT_NEAR(letter[0].w, 595.3, 1.5);
    EXPECT_NEAR(letter[0].h, 419.5, 1.5);
    EXPECT_NE(Text(Out("several.odt.pdf")).find("tangerine windmill ledger"), std::string::npos);
    EXPECT_EQ(Pages(Out("several.ods.pdf")).size(), 3u);
    const std::string sheets = Text(Out("several.ods.pdf"));
    for (const char* w : {"pomegranate", "buckwheat", "elderflower"}) EXPECT_NE(sheets.find(w), std::string::npos) << w;
    const std::vector<PageSize> slidePages = Pages(Out("several.odp.pdf"));
    ASSERT_EQ(slidePages.size(), 3u);
    EXPECT_NEAR(slidePages[0].w, 793.7, 2);
    EXPECT_LT(Text(Out("several.odp.pdf")).find("Marigold"), Text(Out("several.odp.pdf")).find("Saffron"));
    // Every file after the first was loaded ahead and taken over: one load
    // per document (the text twice, once for each of its turns).
    std::vector<std::string> documents;
    EXPECT_EQ(OfficeLog(&documents), OneOffice());
    const auto count = [&](const std::string& line) { return std::count(documents.begin(), documents.end(), line); };
    EXPECT_EQ(count("document loading " + text), 2);
    EXPECT_EQ(count("document loading " + book), 1);
    EXPECT_EQ(count("document loading " + slides), 1);
    EXPECT_EQ(count("ahead adopted " + book) + count("ahead adopted " + slides) + count("ahead adopted " + text), 3);
    EXPECT_FALSE(OfficeLeft());
}

TEST_F(OfficeChain, AListsDamagedOrUnaskedFileLoadedAheadLeavesNothing) {
    // A damaged document announced while the first prints: its own error
    // at its turn, no output of it, no office left.
    const std::string damaged = Out("ahead-damaged.docx");
    std::ofstream(damaged) << "PK\x03\x04 not a document";
    const std::string list = Out("ahead.txt"), outList = Out("ahead-out.txt");
    std::ofstream(list) << Doc(std::string(VM_OFFICE_FIXTURES) + "/letter.fodt", "ahead.odt") << "\n"
                        << damaged << "\n";
    std::ofstream(outList) << Out("ahead.pdf") << "\n" << Out("ahead-damaged.pdf") << "\n";
    vmtest::Shell("chown nobody " + Quote(damaged) + " " + Quote(list) + " " + Quote(outList));
    std::string err;
    EXPECT_EQ(Vellumate("/inlist " + list + " /outlist " + outList, &err), 256 - 25) << err;
    EXPECT_EQ(Pages(Out("ahead.pdf")).size(), 2u);
    EXPECT_FALSE(fs::exists(Out("ahead-damaged.pdf")));
    std::vector<std::string> documents;
    EXPECT_EQ(OfficeLog(&documents), OneOffice());
    EXPECT_EQ(std::count(documents.begin(), documents.end(), "document loading " + damaged), 2);
    EXPECT_FALSE(OfficeLeft());

    // A file announced whose turn ends before its Open (its output is a
    // folder): closed with the run, with the office.
    std::ofstream(outList) << Out("ahead.pdf") << "\n" << Out("") << "\n";
    std::ofstream(list) << Out("ahead.odt") << "\n"
                        << Doc(std::string(VM_OFFICE_FIXTURES) + "/slides.fodp", "ahead.odp") << "\n";
    EXPECT_NE(Vellumate("/inlist " + list + " /outlist " + outList, &err), 0) << err;
    documents.clear();
    EXPECT_EQ(OfficeLog(&documents), OneOffice());
    EXPECT_EQ(std::count(documents.begin(), documents.end(), "ahead closed " + Out("ahead.odp")), 1);
    EXPECT_FALSE(OfficeLeft());
    EXPECT_EQ(SpoolFiles(), std::vector<std::string>{});
}

TEST_F(OfficeChain, BrokenDocumentsAndAMissingHelperOrQueueEndWithTheirCodesAndLeaveNothing) {
    // A damaged document: the application's error, no output, no office.
    const std::string damaged = Out("damaged.docx");
    std::ofstream(damaged) << "PK\x03\x04 not a document";
    vmtest::Shell("chown nobody " + Quote(damaged));
    std::string err;
    EXPECT_EQ(Vellumate(damaged + " " + Out("damaged.pdf"), &err), 256 - 25) << err;
    EXPECT_FALSE(fs::exists(Out("damaged.pdf")));
    EXPECT_FALSE(OfficeLeft());
    EXPECT_EQ(OfficeLog(), OneOffice());
    EXPECT_EQ(DefaultPrinter().find("Vellumate"), std::string::npos);

    // A converter whose folder lacks pathprobe: -28, nothing changed.
    const std::string alone = dir_ + "/alone";
    fs::create_directories(alone);
    fs::copy_file(std::string(VM_BIN_DIR) + "/vellumate", alone + "/vellumate", fs::copy_options::overwrite_existing);
    EXPECT_EQ(AsUser(alone + "/vellumate " + Doc(std::string(VM_OFFICE_FIXTURES) + "/letter.fodt", "alone.odt") + " " +
                         Out("alone.pdf"),
                     &err),
              256 - 28)
        << err;
    EXPECT_FALSE(fs::exists(Out("alone.pdf")));
    EXPECT_EQ(Registry("Client application"), "");
    EXPECT_EQ(DefaultPrinter().find("Vellumate"), std::string::npos);

    // Without the queue: -22 and the default printer unchanged.
    ASSERT_EQ(vmtest::Shell("CUPS_SERVER=" + dir_ + "/cups.sock lpadmin -x Vellumate 2>/dev/null; echo $?"), "0\n");
    EXPECT_EQ(Vellumate(Doc(std::string(VM_OFFICE_FIXTURES) + "/letter.fodt", "noqueue.odt") + " " + Out("noqueue.pdf"),
                        &err),
              256 - 22)
        << err;
    EXPECT_FALSE(fs::exists(Out("noqueue.pdf")));
    EXPECT_FALSE(OfficeLeft());
    EXPECT_EQ(vmtest::Shell("CUPS_SERVER=" + dir_ + "/cups.sock lpadmin -p Vellumate -E -v vellumate:/ -P " +
                            VM_SOURCE_DIR + "/printer/driver/vellumate.ppd 2>/dev/null; echo $?"),
              "0\n");
    EXPECT_EQ(SpoolFiles(), std::vector<std::string>{});
}

TEST_F(OfficeChain, AKilledConverterTakesItsOfficeAlong) {
    // Killed while its document prints: nothing of the office stays. (The
    // hand-off values a killed run leaves are not put back: this runs last.)
    const std::string source = Doc(std::string(VM_OFFICE_FIXTURES) + "/letter.fodt", "killed.odt");
    const std::string pid = vmtest::Shell(Chain() + " run " + dir_ + " " + VM_BIN_DIR + "/vellumate " + source + " " +
                                          Out("killed.pdf") + " >/dev/null 2>&1 & echo $!");
    const pid_t converter = std::atoi(pid.c_str());
    ASSERT_GT(converter, 0);
    std::string started;
    // The office's start is what the kill waits for (bounded by the converter's life).
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (started.empty() && ::kill(converter, 0) == 0 && std::chrono::steady_clock::now() < until) {
        started = vmtest::ReadFile(dir_ + "/home/office.log");
        if (started.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(started.find("office started "), std::string::npos) << started;
    const pid_t office = std::atoi(started.c_str() + started.find("started ") + 8);
    ::kill(converter, SIGKILL);
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, office, 0));
    if (fd >= 0) {
        pollfd p{fd, POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 60000), 1) << "the office outlived its converter";
        close(fd);
    }
    EXPECT_FALSE(fs::exists(Out("killed.pdf")));
}

}  // namespace
