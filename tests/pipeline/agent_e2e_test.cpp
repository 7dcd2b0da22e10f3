// printagent end to end: the built agent, preprocess, progress, vmrelay and a
// fake client (fake_client.cpp) that records what it receives, with a
// private registry, runtime folder, object folders and message-box log. The
// programs run from a private copy of the program folder, whose name holds a
// blank; the print service is absent, so the purge of printed jobs finds no
// queue.
#include "printer/shared/names.h"

#include "platform/clipboard.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/windows.h"

#include "private_session.h"
#include "test_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

using namespace platform;
namespace fs = std::filesystem;

namespace {

using vmtest::ReadFile;

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

// Waits (at most 20 seconds, so a fault fails instead of hanging) until
// `done` holds.
bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 2000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A moment for a thread that has reported to reach its end, before checking
// that it left files alone.
void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

const char kKey[] = "Software\\Vellumate";
const char kNotConfigured[] =
    "The Vellumate printer has not been properly configured. Please re-install the Vellumate software.";

class Agent : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vmagent-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir_ = tmpl;
        bin_ = dir_ + "/program files";
        fs::create_directories(bin_);
        for (const char* p : {"printagent", "preprocess", "progress", "vmrelay", "vmate.lng", "fake_client"})
            fs::copy_file(std::string(VM_BIN_DIR) + "/" + p, bin_ + "/" + p);
        // The modules of the progress window and the message boxes, where the programs look for them.
        for (const char* m : {"libvm_progress_window.so", "libvm_qt_boxes.so"})
            fs::copy_file(std::string(VM_BIN_DIR) + "/../lib/" + m, bin_ + "/" + m);
        vmtest::UsePrivateSession(dir_);
        fs::create_directories(dir_ + "/global");
        setenv("VELLUMATE_GLOBAL_DIR", (dir_ + "/global").c_str(), 1);
        setenv("CUPS_SERVER", (dir_ + "/no-cups.sock").c_str(), 1);
        setenv("VM_FAKE_LOG", (dir_ + "/client.log").c_str(), 1);
        for (const char* v : {"VELLUMATE_OS_MAJOR", "XDG_SESSION_ID", "VM_FAKE_WINDOW", "VM_FAKE_LATE_MS",
                              "VM_FAKE_FORMAT"})
            unsetenv(v);
        spool_ = dir_ + "/run/vellumate/spool/";
        fs::create_directories(spool_);
        fs::permissions(dir_ + "/run/vellumate", fs::perms::owner_all);
        fs::permissions(spool_, fs::perms::owner_all);
        // Pages are kept for the client unless a test says otherwise.
        RegSetDword(HKEY_CURRENT_USER, kKey, "EMF: Enabled", 1);
        RegSetDword(HKEY_LOCAL_MACHINE, kKey, "Log", 1);
        client_ = FakeClientInFolderWithBlank();
    }
    void TearDown() override {
        StopAgent();
        fs::remove_all(dir_);
    }

    std::string FakeClientInFolderWithBlank() {
        fs::create_directories(dir_ + "/client apps");
        fs::copy_file(bin_ + "/fake_client", dir_ + "/client apps/fake_client");
        return dir_ + "/client apps/fake_client";
    }

    void StartAgent() {
        StartOptions o;
        o.stderrPath = dir_ + "/agent.err";
        ASSERT_TRUE(agent_.Start(std::vector<std::string>{bin_ + "/printagent"}, o));
        ASSERT_TRUE(WaitFor([&] { return AgentLog().find("Waiting for events.") != std::string::npos; }));
    }
    void StopAgent() {
        if (!agent_.Started()) return;
        for (const char* name : {"Vellumate_killevent", "Global\\Vellumate_killevent"})
            if (auto kill = NamedEvent::Open(name)) kill->Set();
        if (!agent_.Wait(10000)) {
            agent_.Terminate(true);
            agent_.Wait();
        }
    }

    void Client(const std::string& app, DWORD mode, const std::string& cls = "", const std::string& title = "",
                DWORD messageId = 0) {
        RegSetString(HKEY_LOCAL_MACHINE, kKey, "Client Application", app);
        RegSetDword(HKEY_LOCAL_MACHINE, kKey, "Transfer Mode", mode);
        RegSetString(HKEY_LOCAL_MACHINE, kKey, "Target Window Class", cls);
        RegSetString(HKEY_LOCAL_MACHINE, kKey, "Target Window Title", title);
        RegSetString(HKEY_LOCAL_MACHINE, kKey, "Clipboard Format", "Vellumate Job");
        RegSetDword(HKEY_LOCAL_MACHINE, kKey, "Message ID", messageId);
    }

    // A ticket as the dispatcher writes it, with `pages` page files.
    std::string Ticket(const std::string& name, int pages, const std::string& folder = "") {
        std::string f = folder.empty() ? spool_ : folder;
        std::string t = f + name + ".INI";
        ProfileSetString(t, "Device", "DeviceName", "Vellumate");
        ProfileSetString(t, "Document", "Name", "Letter " + name);
        ProfileSetString(t, "Document", "Pages", std::to_string(pages));
        ProfileSetString(t, "EMF", "Count", std::to_string(pages));
        for (int i = 0; i < pages; ++i) {
            std::string page = f + "~emf" + name + "-" + std::to_string(i) + ".emf";
            std::ofstream(page) << "page";
            ProfileSetString(t, "EMF", "File" + std::to_string(i), page);
        }
        return t;
    }
    bool PagesExist(const std::string& name, int pages, const std::string& folder = "") {
        std::string f = folder.empty() ? spool_ : folder;
        for (int i = 0; i < pages; ++i)
            if (!fs::exists(f + "~emf" + name + "-" + std::to_string(i) + ".emf")) return false;
        return true;
    }

    void Submit(const std::string& ticket, const std::string& value = "Print Job",
                const std::string& event = "Vellumate_printevent") {
        if (!ticket.empty()) RegSetString(HKEY_LOCAL_MACHINE, kKey, value, ticket);
        auto e = NamedEvent::Open(event);
        ASSERT_TRUE(e) << event;
        e->Set();
    }

    std::string LogPath() { return dir_ + "/run/vellumate/vp_log.txt"; }
    std::string Boxes() { return ReadFile(dir_ + "/boxes.jsonl"); }
    bool BoxSays(const std::string& text) {
        return WaitFor([&] { return Boxes().find(text) != std::string::npos; });
    }
    // The fake client's records of one kind, each split into its fields
    // (the kind and the time stamp dropped).
    std::vector<std::vector<std::string>> Records(const std::string& kind) {
        std::vector<std::vector<std::string>> out;
        for (const std::string& line : Split(ReadFile(dir_ + "/client.log"), '\n')) {
            std::vector<std::string> f = Split(line, '\t');
            if (f.size() >= 2 && f[0] == kind) out.emplace_back(f.begin() + 2, f.end());
        }
        return out;
    }
    bool WaitRecords(const std::string& kind, std::size_t n) {
        return WaitFor([&] { return Records(kind).size() >= n; });
    }
    // The agent's log as text (its UTF-16 lines, ASCII only here).
    std::string AgentLog() {
        std::string raw = ReadFile(LogPath()), out;
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2) out += raw[i];
        return out;
    }

    std::string dir_, bin_, spool_, client_, scratch;
    ChildProcess agent_;
};

}  // namespace

TEST_F(Agent, ModeZeroRunsTheQuotedClientWithTheTicketPath) {
    StartAgent();
    Client(client_, 0);
    std::string ticket = Ticket("a1", 2);
    Submit(ticket);
    ASSERT_TRUE(WaitRecords("args", 1));
    // The command was "\"<folder with blank>/fake_client\" <ticket>": one argument, the path.
    EXPECT_EQ(Records("args")[0], std::vector<std::string>{ticket});
    EXPECT_TRUE(fs::exists(ticket));
    EXPECT_TRUE(PagesExist("a1", 2));
    EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, kKey, "Print Job", &scratch), ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(WaitFor([&] { return AgentLog().find("Run client application.") != std::string::npos; }));
    std::string log = AgentLog();
    std::size_t at = 0;
    for (const char* line : {"Agent started.", "Waiting for events.", "New print job received. Start processing thread.",
                             "Processing thread started.", "Print job info successfully retrieved. JobID=0",
                             "Preprocessing finished.", "Progress indicator started.", "Starting converter.",
                             "Converter finished.", "Progress indicator process terminated.",
                             "Run client application."}) {
        at = log.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n" << log;
    }
    // The progress window was closed.
    EXPECT_TRUE(WaitFor([] { return FindWindow("Vellumate progress indicator", nullptr) == 0; }));
    EXPECT_EQ(Boxes(), "");

    // An already quoted command is used as it stands, its own arguments too;
    // vmrelay deletes the pages when keeping them is off.
    RegSetDword(HKEY_CURRENT_USER, kKey, "EMF: Enabled", 0);
    Client("\"" + client_ + "\" --from-agent", 0);
    std::string second = Ticket("a2", 1);
    Submit(second);
    ASSERT_TRUE(WaitRecords("args", 2));
    EXPECT_EQ(Records("args")[1], (std::vector<std::string>{"--from-agent", second}));
    EXPECT_FALSE(PagesExist("a2", 1));
    EXPECT_EQ(ProfileSections(second), (std::vector<std::string>{"Device", "Document"}));
}

TEST_F(Agent, ModeOneSendsThe260ByteBlockToARunningOrLateClient) {
    StartAgent();
    // A client that already runs gets "Message ID" unchanged, even outside the application range.
    setenv("VM_FAKE_WINDOW", "VmClient\tClient One", 1);
    ChildProcess running;
    ASSERT_TRUE(running.Start(std::vector<std::string>{client_}));
    ASSERT_TRUE(WaitFor([] { return FindWindow("VmClient", "Client One") != 0; }));
    Client(client_, 1, "VmClient", "", 0x7FFF);
    std::string ticket = Ticket("b1", 1);
    Submit(ticket);
    ASSERT_TRUE(WaitRecords("copydata", 1));
    EXPECT_EQ(Records("copydata")[0], (std::vector<std::string>{"32767", "260", ticket}));
    EXPECT_TRUE(WaitRecords("front", 1));
    running.Wait(10000);

    // A client the agent starts, whose window appears only after it has
    // become idle, is looked for again until it is there.
    unsetenv("VM_FAKE_WINDOW");
    Client("\"" + client_ + "\" --window VmLate \"Late Client\" --late 1500", 1, "", "Late Client", 0xC123);
    std::string late = Ticket("b2", 1);
    Submit(late);
    ASSERT_TRUE(WaitRecords("copydata", 2));
    EXPECT_EQ(Records("copydata")[1], (std::vector<std::string>{std::to_string(0xC123), "260", late}));
    EXPECT_TRUE(fs::exists(late));
    EXPECT_EQ(Boxes(), "");
}

TEST_F(Agent, ModeTwoPutsThePathOnTheClipboardAndPostsTheMessage) {
    StartAgent();
    setenv("VM_FAKE_WINDOW", "VmClip\tClip Client", 1);
    setenv("VM_FAKE_FORMAT", "Vellumate Job", 1);
    ChildProcess running;
    ASSERT_TRUE(running.Start(std::vector<std::string>{client_}));
    ASSERT_TRUE(WaitFor([] { return FindWindow("VmClip", nullptr) != 0; }));
    Client(client_, 2, "VmClip", "Clip Client", 0x7FFF);
    std::string ticket = Ticket("c1", 2);
    Submit(ticket);
    ASSERT_TRUE(WaitRecords("posted", 1));
    EXPECT_EQ(Records("posted")[0], (std::vector<std::string>{"32768", "0", "0", "260", ticket}));
    EXPECT_TRUE(fs::exists(ticket));
    EXPECT_TRUE(PagesExist("c1", 2));
    running.Wait(10000);
}

TEST_F(Agent, FailuresReportAndKeepOrDeleteTicketAndPagesAsListed) {
    StartAgent();
    // "Client Application" empty: 112, ticket deleted, pages kept.
    Client("", 0);
    std::string t = Ticket("f1", 2);
    Submit(t);
    ASSERT_TRUE(BoxSays("A required file could not be located."));
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(t); }));
    EXPECT_TRUE(PagesExist("f1", 2));

    // Class and title both empty, modes 1 and 2: 111, ticket deleted, pages kept.
    for (DWORD mode : {1u, 2u}) {
        fs::remove(dir_ + "/boxes.jsonl");
        Client(client_, mode);
        t = Ticket("f2", 1);
        Submit(t);
        ASSERT_TRUE(BoxSays(kNotConfigured)) << mode;
        EXPECT_TRUE(WaitFor([&] { return !fs::exists(t); })) << mode;
        EXPECT_TRUE(PagesExist("f2", 1)) << mode;
    }

    // Mode 1 without a client window (the client cannot start): 0xF007, both kept.
    fs::remove(dir_ + "/boxes.jsonl");
    Client(dir_ + "/no such client", 1, "VmNobody", "");
    t = Ticket("f3", 1);
    Submit(t);
    ASSERT_TRUE(BoxSays("Target application is inaccessible."));
    Settle();
    EXPECT_TRUE(fs::exists(t));
    EXPECT_TRUE(PagesExist("f3", 1));

    // Mode 2 without a client window: 0xF007, both deleted.
    fs::remove(dir_ + "/boxes.jsonl");
    Client(dir_ + "/no such client", 2, "VmNobody", "");
    t = Ticket("f4", 2);
    Submit(t);
    ASSERT_TRUE(BoxSays("Target application is inaccessible."));
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(t) && !fs::exists(spool_ + "~emff4-1.emf"); }));
    EXPECT_FALSE(PagesExist("f4", 1));

    // Mode 2 while someone holds the clipboard: 0xF009, both kept.
    fs::remove(dir_ + "/boxes.jsonl");
    {
        auto held = Clipboard::Open();
        ASSERT_TRUE(held);
        t = Ticket("f5", 1);
        Submit(t);
        ASSERT_TRUE(BoxSays("Failed to open clipboard."));
        Settle();
    }
    EXPECT_TRUE(fs::exists(t));
    EXPECT_TRUE(PagesExist("f5", 1));

    // Mode 2 when the clipboard store refuses the data: 0xF008, both deleted.
    fs::remove(dir_ + "/boxes.jsonl");
    setenv("VM_FAKE_WINDOW", "VmClip\tClip", 1);
    ChildProcess running;
    ASSERT_TRUE(running.Start(std::vector<std::string>{client_}));
    ASSERT_TRUE(WaitFor([] { return FindWindow("VmClip", nullptr) != 0; }));
    char name[16];
    std::snprintf(name, sizeof name, "%04x.data", RegisterClipboardFormat("Vellumate Job"));
    std::string blocker = dir_ + "/run/vellumate/clipboard/" + name;
    fs::create_directories(blocker);
    std::ofstream(blocker + "/x") << "x";
    Client(client_, 2, "VmClip", "");
    t = Ticket("f6", 1);
    Submit(t);
    ASSERT_TRUE(BoxSays("Failed to set clipboard data."));
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(t); }));
    EXPECT_FALSE(PagesExist("f6", 1));
    running.Terminate();
    fs::remove_all(blocker);

    // A stored path longer than 259 bytes is not taken ("SYSTEM" is tried
    // instead): 0xF005; the value and the ticket stay.
    fs::remove(dir_ + "/boxes.jsonl");
    std::string deep = dir_ + "/" + std::string(120, 'd') + "/" + std::string(120, 'e') + "/";
    fs::create_directories(deep);
    t = Ticket("f8", 1, deep);
    Submit(t);
    ASSERT_TRUE(BoxSays("Failed to get print job info.\\nError # 2: "));
    EXPECT_TRUE(fs::exists(t));
    EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, kKey, "Print Job", &scratch), ERROR_SUCCESS);
    RegRemoveValue(HKEY_LOCAL_MACHINE, kKey, "Print Job");

    // Mode 0 with a client that cannot start: 113, ticket deleted, pages kept.
    fs::remove(dir_ + "/boxes.jsonl");
    Client(dir_ + "/no such client", 0);
    t = Ticket("f7", 1);
    Submit(t);
    ASSERT_TRUE(BoxSays("The external dispatcher could not be run."));
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(t); }));
    EXPECT_TRUE(PagesExist("f7", 1));

    // A signal without a stored path: 0xF005 with the registry's error.
    fs::remove(dir_ + "/boxes.jsonl");
    Submit("");
    ASSERT_TRUE(BoxSays("Failed to get print job info.\\nError # 2: "));
}

TEST_F(Agent, PreprocessingResultCancelStopsTheJobAndCancelledDoesNot) {
    StartAgent();
    Client(client_, 0);
    std::string stopped = Ticket("p1", 1);
    ProfileSetString(stopped, "Document", "PreprocessingResult", "cAnCeL");
    Submit(stopped);
    ASSERT_TRUE(WaitFor([&] { return AgentLog().find("Preprocessing finished.") != std::string::npos; }));
    Settle();
    std::string goes = Ticket("p2", 1);
    ProfileSetString(goes, "Document", "PreprocessingResult", "Cancelled");
    Submit(goes);
    ASSERT_TRUE(WaitRecords("args", 1));
    EXPECT_EQ(Records("args"), std::vector<std::vector<std::string>>{{goes}});
    // The cancelled job reached neither the converter nor the client, and kept its files.
    std::string log = AgentLog();
    EXPECT_EQ(log.find("Starting converter."), log.rfind("Starting converter."));
    EXPECT_TRUE(fs::exists(stopped));
    EXPECT_TRUE(PagesExist("p1", 1));
    EXPECT_EQ(Boxes(), "");
}

TEST_F(Agent, AMissingConverterDeletesTheTicketAndDeliveryStillFollows) {
    fs::remove(bin_ + "/vmrelay");
    StartAgent();
    Client(client_, 0);
    std::string t = Ticket("m1", 1);
    Submit(t);
    ASSERT_TRUE(BoxSays("Cannot find converter executable."));
    ASSERT_TRUE(WaitRecords("args", 1));
    EXPECT_EQ(Records("args")[0], std::vector<std::string>{t});
    EXPECT_FALSE(fs::exists(t));
    EXPECT_TRUE(PagesExist("m1", 1));
}

TEST_F(Agent, MessageModeOneBroadcastsInsteadOfShowingBoxes) {
    std::mutex mu;
    std::vector<std::pair<WPARAM, LPARAM>> got;
    UINT notify = RegisterWindowMessage("Vellumate_notify_message");
    auto listener = Window::Create("VmListener", "listener", [&](const WindowMessage& m) -> LRESULT {
        std::lock_guard lock(mu);
        if (m.msg == notify) got.emplace_back(m.wParam, m.lParam);
        return 0;
    });
    ASSERT_TRUE(listener);
    RegSetDword(HKEY_LOCAL_MACHINE, kKey, "Message Mode", 1);
    StartAgent();
    Client(dir_ + "/no such client", 1, "VmNobody", "");
    Submit(Ticket("n1", 1));
    ASSERT_TRUE(WaitFor([&] { std::lock_guard l(mu); return got.size() >= 1; }));
    Client(client_, 1);
    Submit(Ticket("n2", 1));
    ASSERT_TRUE(WaitFor([&] { std::lock_guard l(mu); return got.size() >= 2; }));
    std::lock_guard lock(mu);
    EXPECT_EQ(got[0], (std::pair<WPARAM, LPARAM>{0xF007, 0}));
    EXPECT_EQ(got[1], (std::pair<WPARAM, LPARAM>{111, 0}));
    EXPECT_EQ(Boxes(), "");
}

TEST_F(Agent, LaterFamilyServesTwoJobsAtOnceFromUserAndSharedValues) {
    setenv("VELLUMATE_OS_MAJOR", "6", 1);
    setenv("XDG_SESSION_ID", "c7", 1);
    StartAgent();
    Client(client_, 0);
    std::string user = vmshared::UserName();
    std::string mine = Ticket("u1", 1), shared = Ticket("s1", 1);
    RegSetString(HKEY_LOCAL_MACHINE, kKey, user, mine);
    RegSetString(HKEY_LOCAL_MACHINE, kKey, "Shared", shared);
    Submit("", "", "Global\\" + user + "_Vellumate_printevent_SESSION7");
    Submit("", "", "Global\\Vellumate_shared_printing_event");
    ASSERT_TRUE(WaitRecords("args", 2));
    std::vector<std::string> paths{Records("args")[0][0], Records("args")[1][0]};
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> want{mine, shared};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(paths, want);

    // No value of its own: "SYSTEM" is read and deleted instead.
    std::string fallback = Ticket("y1", 1);
    RegSetString(HKEY_LOCAL_MACHINE, kKey, "SYSTEM", fallback);
    Submit("", "", "Global\\" + user + "_Vellumate_printevent_SESSION7");
    ASSERT_TRUE(WaitRecords("args", 3));
    EXPECT_EQ(Records("args")[2][0], fallback);
    EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, kKey, "SYSTEM", &scratch), ERROR_FILE_NOT_FOUND);
    // The kill event has its "Global\" name in this family.
    auto kill = NamedEvent::Open("Global\\Vellumate_killevent");
    ASSERT_TRUE(kill);
    kill->Set();
    EXPECT_TRUE(agent_.Wait(20000));
}

TEST_F(Agent, SharedEventOnTheShortFamilyReadsPrintJob) {
    StartAgent();
    Client(client_, 0);
    std::string t = Ticket("h1", 1);
    RegSetString(HKEY_LOCAL_MACHINE, kKey, "Shared", "/nowhere/else.INI");
    Submit(t, "Print Job", "Vellumate_shared_printing_event");
    ASSERT_TRUE(WaitRecords("args", 1));
    EXPECT_EQ(Records("args")[0][0], t);
    ASSERT_TRUE(WaitFor([&] { return AgentLog().find("Shared print job received.") != std::string::npos; }));
}

TEST_F(Agent, ASecondAgentBeepsAndEndsAndTheKillEventEndsTheFirst) {
    StartAgent();
    ChildProcess second;
    platform::StartOptions secondErr;
    secondErr.stderrPath = dir_ + "/second.err";
    ASSERT_TRUE(second.Start(std::vector<std::string>{bin_ + "/printagent"}, secondErr));
    ASSERT_TRUE(second.Wait(20000));
    EXPECT_EQ(second.ExitStatus(), 0);
    EXPECT_EQ(Boxes(), "{\"beep\":true}\n");
    EXPECT_TRUE(agent_.Running());

    // The first still serves jobs; it ends on the kill event even while a
    // job's thread is still looking for a client window.
    Client(client_, 0);
    Submit(Ticket("k1", 1));
    ASSERT_TRUE(WaitRecords("args", 1));
    Client("sleep 3", 1, "VmNeverThere", "");
    Submit(Ticket("k2", 1));
    ASSERT_TRUE(WaitFor([&] { return Count(AgentLog(), "Converter finished.") == 2; }));
    auto kill = NamedEvent::Open("Vellumate_killevent");
    ASSERT_TRUE(kill);
    kill->Set();
    ASSERT_TRUE(agent_.Wait(20000));
    EXPECT_EQ(agent_.ExitStatus(), 0);
    std::string log = AgentLog();
    EXPECT_NE(log.find("Suicide.\r\n"), std::string::npos);
    EXPECT_NE(log.find("Agent exits.\r\n"), std::string::npos);
    // Its events are gone with it: a new agent starts afresh.
    EXPECT_FALSE(NamedEvent::Open("Vellumate_printevent"));
}

TEST_F(Agent, ProgressWindowOnADisplayClosesOnWmClose) {
    setenv("DISPLAY", ":vm-offscreen", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("VELLUMATE_UI");
    ChildProcess progress;
    platform::StartOptions progressErr;
    progressErr.stderrPath = dir_ + "/progress.err";
    ASSERT_TRUE(progress.Start(std::vector<std::string>{bin_ + "/progress", Ticket("w1", 3)}, progressErr));
    HWND window = 0;
    EXPECT_TRUE(WaitFor([&] { return (window = FindWindow("Vellumate progress indicator", nullptr)) != 0; }));
    EXPECT_EQ(WindowProcessId(window), progress.Pid());
    // The window module was found (the offscreen toolkit may say other things).
    EXPECT_EQ(ReadFile(dir_ + "/progress.err").find("the window is not shown"), std::string::npos);
    PostMessage(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(progress.Wait(20000));
    EXPECT_EQ(progress.ExitStatus(), 0);
    unsetenv("DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
}

TEST_F(Agent, OnADisplayBoxesAreDialogsAndTheToolkitLoadsOnlyForTheFirst) {
    setenv("DISPLAY", ":vm-offscreen", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("VELLUMATE_UI");
    auto mapped = [&](const std::string& lib) {
        return ReadFile("/proc/" + std::to_string(agent_.Pid()) + "/maps").find(lib) != std::string::npos;
    };
    StartAgent();
    EXPECT_FALSE(mapped("libQt6Widgets"));  // idle, the agent holds no toolkit
    Client(dir_ + "/no such client", 1, "VmNobody", "");
    Submit(Ticket("q1", 1));
    ASSERT_TRUE(WaitFor([&] { return mapped("libvm_qt_boxes.so") && mapped("libQt6Widgets"); }));
    // The box waits on screen for a person: nothing answered, nothing on
    // standard error.
    ASSERT_TRUE(WaitFor([&] { return AgentLog().find("Sending WM_COPYDATA.") != std::string::npos; }));
    Settle();
    EXPECT_EQ(Boxes(), "");
    EXPECT_EQ(ReadFile(dir_ + "/agent.err").find("Target application is inaccessible."), std::string::npos);
    StopAgent();
    EXPECT_FALSE(agent_.Running());
    unsetenv("DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
}
