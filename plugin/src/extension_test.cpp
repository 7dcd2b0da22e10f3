// The button object driven as a browser drives it: through the library's
// exports and its interfaces, with a stand-in browser, a private registry and
// home folder, and stand-in converters that record how they were started.
#include "extension.h"
#include "host_manifests.h"
#include "platform/registry.h"
#include "strings.h"
#include "wait_window.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace navlet;
using com::ComPtr;
using com::HRESULT;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A browser whose address (or failure) the test chooses.
class FakeBrowser final : public com::server::Object<FakeBrowser, IWebBrowser2> {
public:
    FakeBrowser(std::string url, HRESULT hr) : url_(std::move(url)), hr_(hr) {}
    HRESULT get_LocationURL(com::BSTR* url) override {
        if (com::FAILED(hr_)) return hr_;
        *url = com::BstrFromUtf8(url_);
        return com::S_OK;
    }

private:
    std::string url_;
    HRESULT hr_;
};

class FakeSite final : public com::server::Object<FakeSite, com::IServiceProvider> {
public:
    FakeSite(std::string url, HRESULT hr = com::S_OK)
        : browser_(ComPtr<FakeBrowser>::Attach(FakeBrowser::CreateOwned(std::move(url), hr))) {}
    HRESULT QueryService(const com::GUID& service, com::REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (!(service == SID_SWebBrowserApp)) return com::E_NOINTERFACE;
        return browser_->QueryInterface(riid, ppv);
    }
    ComPtr<FakeBrowser> browser_;
};

// A site that is no service provider at all.
class PlainSite final : public com::server::Object<PlainSite, com::IObjectWithSite> {
public:
    HRESULT SetSite(com::IUnknown*) override { return com::S_OK; }
    HRESULT GetSite(com::REFIID, void**) override { return com::E_FAIL; }
};

class Env {
public:
    Env(const char* name, const std::string& value) : name_(name) {
        if (const char* o = getenv(name)) old_ = o, had_ = true;
        setenv(name, value.c_str(), 1);
    }
    ~Env() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

class ButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = fs::temp_directory_path().string() + "/navlet-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        env_.emplace_back("VELLUMATE_REGISTRY", dir_ + "/registry");
        env_.emplace_back("HOME", dir_ + "/home");
        env_.emplace_back("XDG_CONFIG_HOME", dir_ + "/home/.config");
        env_.emplace_back("VELLUMATE_UI", "none");
        env_.emplace_back("VELLUMATE_MSGBOX_LOG", dir_ + "/boxes.jsonl");
        unsetenv("VELLUMATE_MSGBOX_ANSWER");
        fs::create_directories(dir_ + "/registry");
        fs::create_directories(dir_ + "/home");
        object_ = ComPtr<IMyIEExtention>::Attach(IMyIEExtention::CreateOwned());
        ASSERT_EQ(object_.As(&target_), com::S_OK);
        ASSERT_EQ(object_.As(&withSite_), com::S_OK);
    }
    void TearDown() override {
        target_ = nullptr;
        withSite_ = nullptr;
        object_ = nullptr;
        env_.clear();
        unsetenv("VELLUMATE_MSGBOX_ANSWER");
        fs::remove_all(dir_);
    }

    // A converter that writes its arguments (one a line), then runs `tail`,
    // a shell command (say "exit 3").
    std::string StandIn(const std::string& tail = "exit 0") {
        std::string path = dir_ + "/stand in converter";
        std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << dir_
                            << "/args'\n"
                            << tail << "\n";
        chmod(path.c_str(), 0755);
        return path;
    }
    void SetConverterPath(const std::string& path) {
        ASSERT_EQ(platform::RegSetString(platform::HKEY_CURRENT_USER, kPluginKey, kConverterPathValue, path),
                  platform::ERROR_SUCCESS);
    }
    void Show(const std::string& url, HRESULT hr = com::S_OK) {
        auto site = ComPtr<FakeSite>::Attach(FakeSite::CreateOwned(url, hr));
        ASSERT_EQ(withSite_->SetSite(static_cast<com::IServiceProvider*>(site.Get())), com::S_OK);
    }
    HRESULT Press(com::VARIANT* out = nullptr) { return target_->Exec(nullptr, 0, 0, nullptr, out); }
    std::string Boxes() { return ReadFile(dir_ + "/boxes.jsonl"); }
    std::string Args() { return ReadFile(dir_ + "/args"); }
    // Whether a process of this test's stand-in converters is still there
    // (their command lines hold the test's folder).
    bool StandInLives() {
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::string cmdline = ReadFile(entry.path().string() + "/cmdline");
            for (char& c : cmdline)
                if (c == '\0') c = ' ';
            if (cmdline.find(dir_ + "/stand in converter") != std::string::npos) return true;
        }
        return false;
    }
    bool Started() { return fs::exists(dir_ + "/args"); }
    // A converter that blocks for good without starting a process of its
    // own: opening a pipe nobody writes to. (A loop of `sleep`s would fork
    // shells that carry the script's command line for a moment after it
    // is gone, and the check for survivors would race with them.)
    std::string BlockingStandIn() {
        std::string fifo = dir_ + "/never written";
        EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        return StandIn("read line < '" + fifo + "'");
    }

    std::string dir_;
    std::list<Env> env_;
    ComPtr<IMyIEExtention> object_;
    ComPtr<com::IOleCommandTarget> target_;
    ComPtr<com::IObjectWithSite> withSite_;
};

TEST_F(ButtonTest, ConvertsTheAddressOnDisplayQuotedAfterUrl) {
    SetConverterPath(StandIn("exit 0"));
    Show("http://127.0.0.1:8080/a page with blanks.html?q=\"x\"");
    com::VARIANT out;
    EXPECT_EQ(Press(&out), com::S_OK);
    EXPECT_EQ(Args(), "/url\nhttp://127.0.0.1:8080/a page with blanks.html?q=%22x%22\n");
    EXPECT_EQ(out.vt, com::VT_I4);
    EXPECT_EQ(out.lVal, 0);
    // Headless, the wait window is a box that waits.
    EXPECT_NE(Boxes().find("\"caption\":\"Convert to PDF\",\"text\":\"Please wait while page is being converted...\""),
              std::string::npos)
        << Boxes();
}

TEST_F(ButtonTest, ReportsTheConvertersResultCode) {
    SetConverterPath(StandIn("exit 246"));
    Show("https://example.invalid/");
    com::VARIANT out;
    EXPECT_EQ(Press(&out), com::S_OK);
    EXPECT_EQ(out.vt, com::VT_I4);
    EXPECT_EQ(out.lVal, -10);
}

// The failure table: what the user is told and what Exec answers.
TEST_F(ButtonTest, NoBrowserOrNoAddressShowsTheErrorsText) {
    SetConverterPath(StandIn());
    EXPECT_EQ(Press(), com::E_FAIL);  // no site at all
    Show("", com::E_ACCESSDENIED);
    EXPECT_EQ(Press(), com::E_FAIL);  // the browser cannot tell
    Show("");
    EXPECT_EQ(Press(), com::E_FAIL);  // an empty address
    std::string boxes = Boxes();
    EXPECT_NE(boxes.find("{\"caption\":\"Error\",\"text\":\"Unknown error 0x80004003\",\"icon\":\"error\""),
              std::string::npos)
        << boxes;
    EXPECT_NE(boxes.find("\"text\":\"Unknown error 0x80070005\""), std::string::npos) << boxes;
    EXPECT_NE(boxes.find("\"text\":\"Unknown error 0x80004005\""), std::string::npos) << boxes;
    EXPECT_FALSE(Started());
}

TEST_F(ButtonTest, UnreadablePluginKeyShowsTheRegistryMessage) {
    Show("http://a.invalid/");
    // A registry that cannot be written, without the key: it cannot be created.
    Env nowhere("VELLUMATE_REGISTRY", "/proc/vellumate-no-such-folder/registry");
    EXPECT_EQ(Press(), com::SELFREG_E_CLASS);
    EXPECT_NE(Boxes().find("\"text\":\"Can't find registry record.\\nReinstall the application.\""), std::string::npos)
        << Boxes();
}

TEST_F(ButtonTest, MissingOrOverlongConverterPathShowsTheValueMessage) {
    Show("http://a.invalid/");
    EXPECT_EQ(Press(), com::SELFREG_E_CLASS);  // the key is made, the value is not there
    SetConverterPath("/" + std::string(260, 'x'));
    EXPECT_EQ(Press(), com::SELFREG_E_CLASS);
    SetConverterPath("");
    EXPECT_EQ(Press(), com::SELFREG_E_CLASS);
    std::string boxes = Boxes();
    const std::string text = "\"text\":\"Can't find \\\"ConverterPath\\\".\\nReinstall the application.\"";
    std::size_t first = boxes.find(text);
    ASSERT_NE(first, std::string::npos) << boxes;
    EXPECT_NE(boxes.find(text, boxes.find(text, first + 1) + 1), std::string::npos) << boxes;
}

TEST_F(ButtonTest, ConverterThatCannotStartShowsWhyAndExecSucceeds) {
    SetConverterPath(dir_ + "/no such converter");
    Show("http://a.invalid/");
    com::VARIANT out;
    EXPECT_EQ(Press(&out), com::S_OK);
    EXPECT_EQ(out.vt, com::VT_ERROR);
    EXPECT_NE(out.scode, com::E_ABORT);
    std::string boxes = Boxes();
    EXPECT_NE(boxes.find("{\"caption\":\"Error\",\"text\":\"program not found: " + dir_ + "/no such converter\""),
              std::string::npos)
        << boxes;
}

TEST_F(ButtonTest, AddressTooLongForTheCommandLineIsRefusedNotCut) {
    SetConverterPath(StandIn());
    Show("http://a.invalid/" + std::string(kMaxCommandLine, 'a'));
    EXPECT_EQ(Press(), com::E_INVALIDARG);
    EXPECT_FALSE(Started());
    EXPECT_NE(Boxes().find(LoadString(IDS_ADDRESS_TOO_LONG)), std::string::npos);

    std::string line;
    std::string converter = "/c";
    std::string fits(kMaxCommandLine - std::string("\"/c\" /url \"\"").size(), 'a');
    EXPECT_TRUE(BuildConverterCommandLine(converter, fits, &line));
    EXPECT_EQ(line.size(), kMaxCommandLine);
    EXPECT_FALSE(BuildConverterCommandLine(converter, fits + "a", &line));
}

TEST_F(ButtonTest, AbortEndsTheConverterAtOnce) {
    SetConverterPath(BlockingStandIn());
    Show("http://a.invalid/");
    Env answer("VELLUMATE_MSGBOX_ANSWER", "abort");
    com::VARIANT out;
    EXPECT_EQ(Press(&out), com::S_OK);
    EXPECT_EQ(out.vt, com::VT_ERROR);
    EXPECT_EQ(out.scode, com::E_ABORT);
    // Gone (and reaped) when Exec returns.
    EXPECT_FALSE(StandInLives());
    EXPECT_NE(Boxes().find("\"buttons\":\"abort\",\"answer\":\"abort\""), std::string::npos) << Boxes();
}

// The dialog form of the wait window, on Qt's offscreen platform.
class DialogTest : public ButtonTest {
protected:
    void SetUp() override {
        ButtonTest::SetUp();
        env_.emplace_back("DISPLAY", ":vellumate-test");
        env_.emplace_back("VELLUMATE_UI", "qt");
        env_.emplace_back("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char arg0[] = "navlet_test";
        static char* argv[] = {arg0, nullptr};
        if (!QApplication::instance()) new QApplication(argc, argv);
    }
    // Calls `act` with the wait window's Abort button once `ready` holds.
    static void WhenShown(std::function<bool()> ready, std::function<void(QWidget*, QPushButton*)> act) {
        QTimer::singleShot(20, [=] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* abort = w->findChild<QPushButton*>(QStringLiteral("1000"));
                if (abort && w->isVisible() && ready()) return act(w, abort);
            }
            WhenShown(ready, act);
        });
    }
};

TEST_F(DialogTest, AbortButtonEndsTheConverter) {
    ConverterRun run("\"" + BlockingStandIn() + "\"");
    run.Launch();
    WhenShown([&] { return run.Poll() == ConverterRun::State::Running; },
              [](QWidget* window, QPushButton* abort) {
                  EXPECT_EQ(window->windowTitle(), QStringLiteral("Convert to PDF"));
                  EXPECT_EQ(abort->text(), QStringLiteral("Abort"));
                  auto* text = window->findChild<QWidget*>(QStringLiteral("1001"));
                  ASSERT_NE(text, nullptr);
                  EXPECT_EQ(text->property("text").toString(),
                            QStringLiteral("Please wait while page is being converted..."));
                  abort->click();
              });
    ASSERT_TRUE(RunWaitDialog(run));
    EXPECT_TRUE(run.Aborted());
    EXPECT_EQ(run.WaitSettled(10000), ConverterRun::State::Ended);
    EXPECT_FALSE(StandInLives());
}

TEST_F(DialogTest, TicksBeforeTheConverterIsStoredKeepTheWindow) {
    // Never launched: the run stays in its starting state for good.
    ConverterRun run("/bin/true");
    QElapsedTimer shown;
    shown.start();
    bool stillUp = false;
    // Several ticks of the window's timer (500 ms) go by before the check.
    WhenShown([&] { return shown.elapsed() > 1600; },
              [&](QWidget* window, QPushButton*) {
                  stillUp = true;
                  window->close();  // the close box aborts as the button does
              });
    ASSERT_TRUE(RunWaitDialog(run));
    EXPECT_TRUE(stillUp);
    EXPECT_TRUE(run.Aborted());
}

TEST_F(ButtonTest, QueryStatusEnablesTheFirstCommand) {
    com::OLECMD commands[2];
    EXPECT_EQ(target_->QueryStatus(nullptr, 2, nullptr, nullptr), com::E_POINTER);
    EXPECT_EQ(target_->QueryStatus(nullptr, 0, commands, nullptr), com::E_UNEXPECTED);
    EXPECT_EQ(target_->QueryStatus(nullptr, 2, commands, nullptr), com::S_OK);
    EXPECT_EQ(commands[0].cmdf, com::OLECMDF_ENABLED);
    EXPECT_EQ(commands[1].cmdf, 0u);
}

TEST_F(ButtonTest, SiteHandsTheBrowserAndGetSiteAsksIt) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(withSite_->GetSite(com::IID_IUnknown, &p), com::E_FAIL);
    EXPECT_EQ(p, nullptr);
    Show("http://a.invalid/");
    ComPtr<IWebBrowser2> browser;
    EXPECT_EQ(withSite_->GetSite(IID_IWebBrowser2, reinterpret_cast<void**>(browser.ReleaseAndGetAddressOf())),
              com::S_OK);
    EXPECT_TRUE(browser);
    auto plain = ComPtr<PlainSite>::Attach(PlainSite::CreateOwned());
    EXPECT_EQ(withSite_->SetSite(plain.Get()), com::E_NOINTERFACE);
    EXPECT_EQ(withSite_->GetSite(IID_IWebBrowser2, &p), com::E_FAIL);
    EXPECT_EQ(withSite_->SetSite(nullptr), com::S_OK);
    ComPtr<com::IDispatch> none;
    EXPECT_EQ(object_.As(&none), com::E_NOINTERFACE);
}

}  // namespace
