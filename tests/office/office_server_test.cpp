// libvmoffice.so in this process, registered in a private registry, driving
// a real headless LibreOffice: page set-ups of the three applications, a
// damaged document, an office that crashes or hangs, no office at all, one
// office for a whole run, and no office process left behind, also when the
// client is killed.
#include "platform/com.h"
#include "platform/com_dispatch.h"

#include "platform/process.h"
#include "test_output.h"
#include "vmoffice/office_lookahead.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace com;

constexpr CLSID kWord{0x000209FF, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr CLSID kExcel{0x00024500, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr CLSID kPowerPoint{0x91493441, 0x5A91, 0x11CF, {0x87, 0x00, 0x00, 0xAA, 0x00, 0x60, 0x26, 0x3B}};

// A fixture copied into the test's folder (the source tree stays untouched).
std::string g_dir;
std::string Fixture(const std::string& name) {
    const std::string to = g_dir + "/" + name;
    fs::copy_file(std::string(VM_OFFICE_FIXTURES) + "/" + name, to, fs::copy_options::overwrite_existing);
    return to;
}

// The office processes this test process started (their pipe names carry our pid).
std::vector<pid_t> OfficeProcesses() {
    const std::string mark = "name=vmoffice_" + std::to_string(::getpid()) + "_";
    std::vector<pid_t> found;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmd = vmtest::ReadFile(e.path().string() + "/cmdline");
        if (cmd.find(mark) != std::string::npos) found.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return found;
}

bool NoOfficeLeft() {
    for (int i = 0; i < 100; ++i) {
        if (OfficeProcesses().empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// The lines the session wrote to $VELLUMATE_OFFICE_LOG that begin with `what`.
int LogLines(const std::string& what) {
    std::istringstream in(vmtest::ReadFile(g_dir + "/office.log"));
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line.rfind(what, 0) == 0;
    return n;
}

// The office's loads of `path` (the look-ahead's and the Opens').
int LoadsOf(const std::string& path) { return LogLines("document loading " + path); }

// Waits (bounded, on the process itself) until a process that is not our
// child has ended.
bool Ends(pid_t pid) {
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return errno == ESRCH;
    pollfd p{fd, POLLIN, 0};
    const bool ended = poll(&p, 1, 60000) == 1;
    close(fd);
    return ended;
}

// Late-bound calls with the server's text on failure.
struct Auto {
    ComPtr<IDispatch> p;
    HRESULT hr = S_OK;
    std::string error;

    VARIANT Call(const std::string& name, std::uint16_t flags, std::vector<VARIANT> args = {}) {
        VARIANT r;
        error.clear();
        hr = InvokeByName(p.Get(), name, flags, std::move(args), &r, &error);
        return r;
    }
    Auto Get(const std::string& name, std::vector<VARIANT> args = {}, std::uint16_t flags = DISPATCH_PROPERTYGET) {
        VARIANT r = Call(name, flags, std::move(args));
        Auto a;
        a.hr = hr;
        a.error = error;
        if (SUCCEEDED(hr) && r.vt == VT_DISPATCH) a.p = ComPtr<IDispatch>::Attach(r.pdispVal);
        else VariantClear(&r);
        return a;
    }
    double Number(const std::string& name) {
        VARIANT r = Call(name, DISPATCH_PROPERTYGET);
        VARIANT d;
        EXPECT_EQ(VariantChangeType(&d, &r, VT_R8), S_OK) << name << ": " << error;
        VariantClear(&r);
        return d.dblVal;
    }
    double NumberById(DISPID id) {
        DISPPARAMS none;
        VARIANT r, d;
        EXCEPINFO ex;
        std::uint32_t argErr = 0;
        EXPECT_EQ(p->Invoke(id, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, &ex, &argErr), S_OK);
        VariantChangeType(&d, &r, VT_R8);
        return d.dblVal;
    }
    void PutById(DISPID id, double v) {
        VARIANT a;
        a.vt = VT_R8;
        a.dblVal = v;
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params;
        params.rgvarg = &a;
        params.cArgs = 1;
        params.rgdispidNamedArgs = &put;
        params.cNamedArgs = 1;
        EXCEPINFO ex;
        std::uint32_t argErr = 0;
        EXPECT_EQ(p->Invoke(id, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, &ex, &argErr), S_OK);
    }
    void Put(const std::string& name, double v) {
        VARIANT a;
        a.vt = VT_R8;
        a.dblVal = v;
        VARIANT r = Call(name, DISPATCH_PROPERTYPUT, {a});
        EXPECT_EQ(hr, S_OK) << name << ": " << error;
        VariantClear(&r);
    }
};

VARIANT Str(const std::string& s) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = BstrFromUtf8(s);
    return v;
}

VARIANT I4(std::int32_t i) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = i;
    return v;
}

// Names the file an application's next Open will ask for.
HRESULT Announce(const Auto& app, const std::string& path, vmoffice::OfficeKind kind, bool readOnly = false) {
    ComPtr<vmoffice::IOfficeLookahead> ahead;
    if (HRESULT hr = app.p.As(&ahead); FAILED(hr)) return hr;
    Bstr name(path);
    return ahead->AnnounceDocument(name.Get(), kind, readOnly ? VARIANT_TRUE : VARIANT_FALSE);
}

// A copy of letter.fodt on A4 landscape paper, put in place at once.
void RewriteAsA4(const std::string& path) {
    std::string text = vmtest::ReadFile(std::string(VM_OFFICE_FIXTURES) + "/letter.fodt");
    for (auto [from, to] : {std::pair<std::string, std::string>{"fo:page-width=\"21cm\"", "fo:page-width=\"29.7cm\""},
                            {"fo:page-height=\"14.8cm\"", "fo:page-height=\"21cm\""}}) {
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    }
    std::ofstream(path + ".new") << text;
    fs::rename(path + ".new", path);
}

class OfficeServer : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vmoffice-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir_ = tmpl;
        g_dir = dir_;
        setenv("VELLUMATE_REGISTRY", (dir_ + "/reg").c_str(), 1);
        setenv("TMPDIR", dir_.c_str(), 1);
        setenv("VELLUMATE_OFFICE_LOG", (dir_ + "/office.log").c_str(), 1);
        const std::string reg = vmtest::Shell(std::string(VM_BIN_DIR) + "/regsvr /s " + VM_LIB_DIR +
                                              "/libvmoffice.so >/dev/null 2>&1; echo $?");
        ASSERT_EQ(reg, "0\n");
        CoInitialize();
    }
    void TearDown() override {
        CoUninitialize();
        unsetenv("VELLUMATE_OFFICE_TIMEOUT");
        unsetenv("VELLUMATE_SOFFICE");
        unsetenv("VELLUMATE_OFFICE_LOG");
        unsetenv("TMPDIR");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    Auto Create(const CLSID& clsid) {
        Auto a;
        a.hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch,
                                reinterpret_cast<void**>(a.p.ReleaseAndGetAddressOf()));
        return a;
    }
    std::string dir_;
};

TEST_F(OfficeServer, WordReadsAndChangesTheTextsPageSetup) {
    {
        Auto word = Create(kWord);
        ASSERT_EQ(word.hr, S_OK);
        Auto docs = word.Get("Documents");
        ASSERT_EQ(docs.hr, S_OK) << docs.error;
        Auto doc = docs.Get("Open", {Str(Fixture("letter.fodt"))}, DISPATCH_METHOD);
        ASSERT_EQ(doc.hr, S_OK) << doc.error;
        Auto setup = doc.Get("PageSetup");
        ASSERT_EQ(setup.hr, S_OK) << setup.error;
        // A5 landscape, margins 2 cm and 1.5 cm, in points.
        EXPECT_EQ(setup.Number("Orientation"), 1);
        EXPECT_NEAR(setup.Number("PageWidth"), 595.3, 0.5);
        EXPECT_NEAR(setup.Number("PageHeight"), 419.5, 0.5);
        EXPECT_NEAR(setup.Number("LeftMargin"), 56.7, 0.5);
        EXPECT_NEAR(setup.Number("TopMargin"), 42.5, 0.5);
        // Turning the page turns its size; the set-up is then given back.
        setup.Put("Orientation", 0);
        EXPECT_NEAR(setup.Number("PageWidth"), 419.5, 0.5);
        setup.Put("BottomMargin", 72);
        VARIANT back;
        back.vt = VT_DISPATCH;
        back.pdispVal = setup.p.Get();
        setup.p->AddRef();
        VARIANT r = doc.Call("PageSetup", DISPATCH_PROPERTYPUT, {back});
        VariantClear(&back);
        EXPECT_EQ(doc.hr, S_OK) << doc.error;
        EXPECT_NEAR(doc.Get("PageSetup").Number("BottomMargin"), 72, 0.1);
        EXPECT_FALSE(OfficeProcesses().empty());
        // No lock file beside the document, also while it is open.
        EXPECT_FALSE(fs::exists(dir_ + "/.~lock.letter.fodt#"));
        word.Call("Quit", DISPATCH_METHOD);
        EXPECT_EQ(word.hr, S_OK);
        (void)r;
    }
    // The office stays for the run's next document, and ends with the run.
    EXPECT_EQ(OfficeProcesses().size(), 1u);
    CoUninitialize();
    EXPECT_TRUE(NoOfficeLeft());
    EXPECT_EQ(LogLines("office ended"), 1);
    CoInitialize();
    // Nothing of the private profile stays in the temporary folder, and no
    // lock file beside the document.
    for (const auto& e : fs::directory_iterator(dir_)) {
        EXPECT_EQ(e.path().filename().string().rfind("vmoffice-", 0), std::string::npos) << e.path();
        EXPECT_EQ(e.path().filename().string().rfind(".~lock", 0), std::string::npos) << e.path();
    }
}

TEST_F(OfficeServer, ExcelAnswersTheActiveSheetsDispatchIdsAndPowerPointItsSlideSize) {
    Auto excel = Create(kExcel);
    ASSERT_EQ(excel.hr, S_OK);
    Auto book = excel.Get("Workbooks").Get("Open", {Str(Fixture("workbook.fods"))}, DISPATCH_METHOD);
    ASSERT_EQ(book.hr, S_OK) << book.error;
    Auto setup = book.Get("ActiveSheet").Get("PageSetup");
    ASSERT_EQ(setup.hr, S_OK) << setup.error;
    EXPECT_EQ(setup.NumberById(134), 1);  // portrait
    setup.PutById(134, 2);
    setup.PutById(999, 30);
    EXPECT_EQ(setup.NumberById(134), 2);
    EXPECT_NEAR(setup.NumberById(999), 30, 0.1);

    // A second application shares the running office.
    Auto ppt = Create(kPowerPoint);
    ASSERT_EQ(ppt.hr, S_OK);
    VARIANT t;
    t.vt = VT_I4;
    t.lVal = -1;
    VARIANT f;
    f.vt = VT_I4;
    f.lVal = 0;
    Auto pres = ppt.Get("Presentations").Get("Open", {Str(Fixture("slides.fodp")), t, f, f}, DISPATCH_METHOD);
    ASSERT_EQ(pres.hr, S_OK) << pres.error;
    Auto slides = pres.Get("PageSetup");
    EXPECT_NEAR(slides.Number("SlideWidth"), 793.7, 0.5);
    EXPECT_NEAR(slides.Number("SlideHeight"), 446.5, 0.5);
    EXPECT_EQ(OfficeProcesses().size(), 1u);  // one office
}

TEST_F(OfficeServer, DamagedOrMisroutedDocumentsFailWithTextAndTheApplicationGoesOn) {
    Auto word = Create(kWord);
    ASSERT_EQ(word.hr, S_OK);
    Auto docs = word.Get("Documents");
    const std::string damaged = dir_ + "/damaged.docx";
    std::ofstream(damaged) << "PK\x03\x04 this is no document at all";
    Auto bad = docs.Get("Open", {Str(damaged)}, DISPATCH_METHOD);
    EXPECT_EQ(bad.hr, DISP_E_EXCEPTION);
    EXPECT_NE(bad.error.find("could not be opened"), std::string::npos) << bad.error;
    Auto missing = docs.Get("Open", {Str(dir_ + "/missing.doc")}, DISPATCH_METHOD);
    EXPECT_EQ(missing.hr, DISP_E_EXCEPTION);
    // A spreadsheet is no text document.
    Auto wrong = docs.Get("Open", {Str(Fixture("workbook.fods"))}, DISPATCH_METHOD);
    EXPECT_EQ(wrong.hr, DISP_E_EXCEPTION);
    EXPECT_NE(wrong.error.find("is not a text document"), std::string::npos) << wrong.error;
    Auto good = docs.Get("Open", {Str(Fixture("letter.fodt"))}, DISPATCH_METHOD);
    EXPECT_EQ(good.hr, S_OK) << good.error;
}

TEST_F(OfficeServer, ACrashedOrHungOfficeFailsItsDocumentAndTheNextGetsANewOne) {
    setenv("VELLUMATE_OFFICE_TIMEOUT", "3", 1);
    {
        Auto word = Create(kWord);
        ASSERT_EQ(word.hr, S_OK);
        Auto docs = word.Get("Documents");
        for (pid_t p : OfficeProcesses()) ::kill(p, SIGKILL);
        Auto doc = docs.Get("Open", {Str(Fixture("letter.fodt"))}, DISPATCH_METHOD);
        EXPECT_EQ(doc.hr, DISP_E_EXCEPTION);
        EXPECT_NE(doc.error.find("ended or stopped answering"), std::string::npos) << doc.error;
    }
    EXPECT_TRUE(NoOfficeLeft());
    {
        Auto word = Create(kWord);
        ASSERT_EQ(word.hr, S_OK);
        Auto docs = word.Get("Documents");
        ASSERT_EQ(docs.Get("Open", {Str(Fixture("letter.fodt"))}, DISPATCH_METHOD).hr, S_OK);
        // A stopped office answers nothing: the call ends with the bound.
        for (pid_t p : OfficeProcesses()) ::kill(p, SIGSTOP);
        Auto doc = docs.Get("Open", {Str(Fixture("letter.fodt"))}, DISPATCH_METHOD);
        EXPECT_EQ(doc.hr, DISP_E_EXCEPTION);
    }
    EXPECT_TRUE(NoOfficeLeft());
    EXPECT_GE(LogLines("office started"), 2);
}

TEST_F(OfficeServer, OneOfficeServesTheRunAcrossApplicationsAndQuitsAndEndsWithIt) {
    for (int round = 0; round < 2; ++round) {
        for (const CLSID* app : {&kWord, &kExcel, &kWord}) {
            Auto a = Create(*app);
            ASSERT_EQ(a.hr, S_OK);
            const bool word = app == &kWord;
            Auto doc = a.Get(word ? "Documents" : "Workbooks")
                           .Get("Open", {Str(Fixture(word ? "letter.fodt" : "workbook.fods"))}, DISPATCH_METHOD);
            EXPECT_EQ(doc.hr, S_OK) << doc.error;
            a.Call("Quit", DISPATCH_METHOD);
        }
        EXPECT_EQ(OfficeProcesses().size(), 1u);
        // The runtime's end while an application still holds the office: it
        // ends with that application, not before.
        Auto late = Create(kWord);
        ASSERT_EQ(late.hr, S_OK);
        CoUninitialize();
        EXPECT_EQ(late.Get("Documents").Get("Open", {Str(Fixture("letter.fodt"))}, DISPATCH_METHOD).hr, S_OK);
        EXPECT_EQ(OfficeProcesses().size(), 1u);
        late.p = nullptr;
        EXPECT_TRUE(NoOfficeLeft());
        CoInitialize();
    }
    // One start and one end a run (a new profile may ask for a second start
    // of the same office before it answers: that is no second office).
    EXPECT_EQ(LogLines("office ended"), 2);
    for (const auto& e : fs::directory_iterator(dir_))
        EXPECT_EQ(e.path().filename().string().rfind("vmoffice-", 0), std::string::npos) << e.path();
}

TEST_F(OfficeServer, AClientKilledInTheMiddleTakesItsOfficeAlong) {
    platform::ChildProcess holder;
    platform::StartOptions options;
    options.stdoutPath = dir_ + "/holder.out";
    ASSERT_TRUE(holder.Start(std::vector<std::string>{std::string(VM_BIN_DIR) + "/../tests/office_holder",
                                                      Fixture("letter.fodt")},
                             options));
    // The holder says "open" once its document is open; it ends only when killed.
    while (vmtest::ReadFile(dir_ + "/holder.out").empty() && holder.Running()) holder.Wait(50);
    ASSERT_EQ(vmtest::ReadFile(dir_ + "/holder.out"), "open\n");
    std::istringstream in(vmtest::ReadFile(dir_ + "/office.log"));
    std::string started, word;
    pid_t office = -1;
    for (std::string line; std::getline(in, line) && office <= 0;) {
        std::istringstream fields(line);
        if (!(fields >> started >> word) || word != "started" || !(fields >> office)) office = -1;
    }
    ASSERT_GT(office, 0);
    holder.Terminate(true);
    ASSERT_TRUE(holder.Wait());
    EXPECT_TRUE(Ends(office));
}

TEST_F(OfficeServer, ADocumentLoadedAheadIsTakenOverByTheOpenThatAsksForIt) {
    const std::string letter = Fixture("letter.fodt"), book = Fixture("workbook.fods"),
                      slides = Fixture("slides.fodp");
    {
        Auto word = Create(kWord);
        ASSERT_EQ(word.hr, S_OK);
        ASSERT_EQ(word.Get("Documents").Get("Open", {Str(letter)}, DISPATCH_METHOD).hr, S_OK);
        EXPECT_EQ(Announce(word, book, vmoffice::kOfficeSpreadsheet), S_OK);
        EXPECT_EQ(Announce(word, "", vmoffice::OfficeKind(7)), E_INVALIDARG);
        word.Call("Quit", DISPATCH_METHOD);
        EXPECT_EQ(Announce(word, book, vmoffice::kOfficeSpreadsheet), E_FAIL);
    }
    {
        Auto excel = Create(kExcel);
        ASSERT_EQ(excel.hr, S_OK);
        Auto open = excel.Get("Workbooks").Get("Open", {Str(book)}, DISPATCH_METHOD);
        ASSERT_EQ(open.hr, S_OK) << open.error;
        EXPECT_EQ(open.Get("ActiveSheet").Get("PageSetup").NumberById(134), 1);
        // A presentation opens read-only.
        EXPECT_EQ(Announce(excel, slides, vmoffice::kOfficePresentation, true), S_OK);
        excel.Call("Quit", DISPATCH_METHOD);
    }
    Auto ppt = Create(kPowerPoint);
    ASSERT_EQ(ppt.hr, S_OK);
    Auto pres = ppt.Get("Presentations").Get("Open", {Str(slides), I4(-1), I4(0), I4(0)}, DISPATCH_METHOD);
    ASSERT_EQ(pres.hr, S_OK) << pres.error;
    EXPECT_NEAR(pres.Get("PageSetup").Number("SlideWidth"), 793.7, 0.5);
    // Each file was loaded once, two of them ahead.
    EXPECT_EQ(LoadsOf(letter), 1);
    EXPECT_EQ(LoadsOf(book), 1);
    EXPECT_EQ(LoadsOf(slides), 1);
    EXPECT_EQ(LogLines("ahead adopted"), 2);
    EXPECT_EQ(LogLines("ahead closed"), 0);
    EXPECT_EQ(OfficeProcesses().size(), 1u);
}

TEST_F(OfficeServer, AnOpenOfAChangedOrOtherFileOrWithOtherArgumentsLoadsAgain) {
    const std::string letter = Fixture("letter.fodt"), book = Fixture("workbook.fods");
    const std::string changed = dir_ + "/changed.fodt";
    fs::copy_file(letter, changed);
    Auto word = Create(kWord);
    ASSERT_EQ(word.hr, S_OK);
    Auto docs = word.Get("Documents");
    // Changed after its announcement: the new content is what opens.
    ASSERT_EQ(Announce(word, changed, vmoffice::kOfficeText), S_OK);
    RewriteAsA4(changed);
    Auto doc = docs.Get("Open", {Str(changed)}, DISPATCH_METHOD);
    ASSERT_EQ(doc.hr, S_OK) << doc.error;
    EXPECT_NEAR(doc.Get("PageSetup").Number("PageWidth"), 841.9, 0.5);
    EXPECT_EQ(LoadsOf(changed), 2);
    // Announced read-only, or as a spreadsheet, and opened otherwise.
    ASSERT_EQ(Announce(word, letter, vmoffice::kOfficeText, true), S_OK);
    EXPECT_EQ(docs.Get("Open", {Str(letter)}, DISPATCH_METHOD).hr, S_OK);
    ASSERT_EQ(Announce(word, letter, vmoffice::kOfficeSpreadsheet), S_OK);
    EXPECT_EQ(docs.Get("Open", {Str(letter)}, DISPATCH_METHOD).hr, S_OK);
    EXPECT_EQ(LoadsOf(letter), 4);
    // Another file is asked for: the one loaded ahead is closed.
    ASSERT_EQ(Announce(word, book, vmoffice::kOfficeSpreadsheet), S_OK);
    EXPECT_EQ(docs.Get("Open", {Str(changed)}, DISPATCH_METHOD).hr, S_OK);
    EXPECT_EQ(LogLines("ahead adopted"), 0);
    // The old content, the read-only one, the other file (the spreadsheet
    // load of a text failed: nothing to close).
    EXPECT_EQ(LogLines("ahead closed"), 3);
}

TEST_F(OfficeServer, ADamagedFileLoadedAheadFailsAtItsOwnOpenWithItsOwnError) {
    const std::string damaged = dir_ + "/damaged.docx";
    std::ofstream(damaged) << "PK\x03\x04 this is no document at all";
    Auto word = Create(kWord);
    ASSERT_EQ(word.hr, S_OK);
    ASSERT_EQ(Announce(word, damaged, vmoffice::kOfficeText), S_OK);
    ASSERT_EQ(Announce(word, dir_ + "/missing.doc", vmoffice::kOfficeText), S_OK);
    Auto missing = word.Get("Documents").Get("Open", {Str(dir_ + "/missing.doc")}, DISPATCH_METHOD);
    EXPECT_EQ(missing.hr, DISP_E_EXCEPTION);
    ASSERT_EQ(Announce(word, damaged, vmoffice::kOfficeText), S_OK);
    Auto bad = word.Get("Documents").Get("Open", {Str(damaged)}, DISPATCH_METHOD);
    EXPECT_EQ(bad.hr, DISP_E_EXCEPTION);
    EXPECT_NE(bad.error.find("could not be opened"), std::string::npos) << bad.error;
    EXPECT_EQ(LoadsOf(damaged), 3);  // ahead twice, and the Open
    EXPECT_EQ(Announce(word, Fixture("letter.fodt"), vmoffice::kOfficeText), S_OK);
    EXPECT_EQ(word.Get("Documents").Get("Open", {Str(dir_ + "/letter.fodt")}, DISPATCH_METHOD).hr, S_OK);
    EXPECT_EQ(LogLines("ahead adopted"), 1);
}

TEST_F(OfficeServer, ADocumentLoadedAheadThatNobodyAsksForEndsWithTheRun) {
    {
        Auto word = Create(kWord);
        ASSERT_EQ(word.hr, S_OK);
        ASSERT_EQ(word.Get("Documents").Get("Open", {Str(Fixture("letter.fodt"))}, DISPATCH_METHOD).hr, S_OK);
        ASSERT_EQ(Announce(word, Fixture("workbook.fods"), vmoffice::kOfficeSpreadsheet), S_OK);
        word.Call("Quit", DISPATCH_METHOD);
    }
    CoUninitialize();
    EXPECT_TRUE(NoOfficeLeft());
    EXPECT_EQ(LogLines("ahead closed " + dir_ + "/workbook.fods"), 1);
    EXPECT_EQ(LogLines("office ended"), 1);
    CoInitialize();
    // Announced after the run's end by an application that still holds the
    // office: closed with that application, and the office with it.
    Auto word = Create(kWord);
    ASSERT_EQ(word.hr, S_OK);
    CoUninitialize();
    ASSERT_EQ(Announce(word, dir_ + "/letter.fodt", vmoffice::kOfficeText), S_OK);
    word.p = nullptr;
    EXPECT_TRUE(NoOfficeLeft());
    EXPECT_EQ(LogLines("ahead closed"), 2);
    EXPECT_EQ(LogLines("office ended"), 2);
    CoInitialize();
    for (const auto& e : fs::directory_iterator(dir_))
        EXPECT_EQ(e.path().filename().string().rfind("vmoffice-", 0), std::string::npos) << e.path();
}

TEST_F(OfficeServer, ALoadAheadInAHungOfficeIsBoundedAndTheNextDocumentGetsANewOffice) {
    setenv("VELLUMATE_OFFICE_TIMEOUT", "3", 1);
    {
        Auto word = Create(kWord);
        ASSERT_EQ(word.hr, S_OK);
        Auto doc = word.Get("Documents").Get("Open", {Str(Fixture("letter.fodt"))}, DISPATCH_METHOD);
        ASSERT_EQ(doc.hr, S_OK);
        // The office stops answering: the load ahead hangs, and the close
        // of the current document behind it ends with the bound, unreported.
        for (pid_t p : OfficeProcesses()) ::kill(p, SIGSTOP);
        ASSERT_EQ(Announce(word, Fixture("workbook.fods"), vmoffice::kOfficeSpreadsheet), S_OK);
        doc.Call("Close", DISPATCH_METHOD);
        word.Call("Quit", DISPATCH_METHOD);
        EXPECT_EQ(word.hr, S_OK);
    }
    Auto excel = Create(kExcel);
    ASSERT_EQ(excel.hr, S_OK);
    Auto book = excel.Get("Workbooks").Get("Open", {Str(dir_ + "/workbook.fods")}, DISPATCH_METHOD);
    EXPECT_EQ(book.hr, S_OK) << book.error;
    EXPECT_EQ(LogLines("office started"), 2);
    EXPECT_EQ(LogLines("office ended"), 1);
    EXPECT_EQ(OfficeProcesses().size(), 1u);
}

TEST_F(OfficeServer, WithoutTheOfficeProgramNoApplicationIsMade) {
    setenv("VELLUMATE_SOFFICE", (dir_ + "/no-such-office").c_str(), 1);
    Auto word = Create(kWord);
    EXPECT_TRUE(FAILED(word.hr));
    EXPECT_FALSE(word.p);
}

}  // namespace
