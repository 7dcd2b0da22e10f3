#include "language.h"
#include "names.h"
#include "report.h"
#include "shared_log.h"

#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/windows.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace vmshared;
namespace fs = std::filesystem;

namespace {

// A private registry, runtime folder and message-box log for one test.
class SharedTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vmshared-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir_ = tmpl;
        fs::create_directories(dir_ + "/run");
        fs::permissions(dir_ + "/run", fs::perms::owner_all);
        setenv("VELLUMATE_REGISTRY", (dir_ + "/reg").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
        setenv("VELLUMATE_MSGBOX_LOG", (dir_ + "/boxes.jsonl").c_str(), 1);
        setenv("VELLUMATE_UI", "none", 1);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir_;
};

std::string Utf16(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

}  // namespace

TEST(SharedNames, BothPlatformFamilies) {
    auto v4 = EventNames(4, "anna", 3);
    EXPECT_EQ(v4.print, "Vellumate_printevent");
    EXPECT_EQ(v4.shared, "Vellumate_shared_printing_event");
    EXPECT_EQ(v4.kill, "Vellumate_killevent");
    auto v6 = EventNames(6, "anna", 3);
    EXPECT_EQ(v6.print, "Global\\anna_Vellumate_printevent_SESSION3");
    EXPECT_EQ(v6.shared, "Global\\Vellumate_shared_printing_event");
    EXPECT_EQ(v6.kill, "Global\\Vellumate_killevent");
    EXPECT_EQ(DispatcherEventName(), "Vellumate_printevent");
    EXPECT_EQ(NotifyMessageName(), "Vellumate_notify_message");
    EXPECT_EQ(ProgressClassName(), "Vellumate progress indicator");
    EXPECT_EQ(DispatcherCaption(), "Vellumate dispatcher");
    EXPECT_EQ(AgentCaption(), "Vellumate agent");
    EXPECT_EQ(ConverterCaption(), "Vellumate converter");
    EXPECT_EQ(RegistryKey(), "Software\\Vellumate");
    EXPECT_EQ(DefaultsKey(), "Software\\Vellumate\\Defaults");
    EXPECT_EQ(TicketPath("/s/", 0x1a2b), "/s/00001a2b.INI");
    EXPECT_EQ(TicketPath("/s/", 0xFFFFFFFFu), "/s/ffffffff.INI");
}

TEST(SharedLogFormat, LineStampAndCut) {
    using namespace std::chrono;
    sys_days day = year{2024} / 3 / 7;
    auto when = system_clock::time_point(day) + hours(9) + minutes(5) + seconds(4) + milliseconds(7);
    EXPECT_EQ(SharedLog::FormatLine(when, "Agent started."), u"2024-03-07 09:05:04.007:\tAgent started.\r\n");
    std::u16string longLine = SharedLog::FormatLine(when, std::string(5000, 'x'));
    EXPECT_EQ(longLine.size(), SharedLog::kMaxLine);
    EXPECT_TRUE(longLine.ends_with(u"x\r\n"));
    // A character outside the basic plane is never cut in half.
    std::string astral;
    for (int i = 0; i < 600; ++i) astral += "\xF0\x9F\x98\x80";
    std::u16string cut = SharedLog::FormatLine(when, astral);
    char16_t last = cut[cut.size() - 3];
    EXPECT_TRUE(last >= 0xDC00 && last <= 0xDFFF);
}

TEST_F(SharedTest, LogGetsOneByteOrderMarkAndWholeLinesFromTwoProcesses) {
    std::string path = dir_ + "/vp_log.txt";
    constexpr int kLines = 400;
    pid_t child = fork();
    if (child == 0) {
        SharedLog log;
        if (!log.Open(path)) _exit(1);
        for (int i = 0; i < kLines; ++i) log.Append("child line " + std::to_string(i));
        _exit(0);
    }
    {
        SharedLog log;
        ASSERT_TRUE(log.Open(path));
        std::thread other([&] {
            for (int i = 0; i < kLines; ++i) log.Append("thread line " + std::to_string(i));
        });
        for (int i = 0; i < kLines; ++i) log.Append("parent line " + std::to_string(i));
        other.join();
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    {
        SharedLog again;  // an existing log gets no second mark
        ASSERT_TRUE(again.Open(path));
        again.Append("last");
    }
    std::string bytes = Read(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    EXPECT_EQ(text.find(u'\xFEFF'), std::u16string::npos);
    int lines = 0, child_ = 0, parent = 0, thread = 0;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(u"\r\n", start)) != std::u16string::npos; start = end + 2) {
        std::u16string line = text.substr(start, end - start);
        ++lines;
        // "YYYY-MM-DD hh:mm:ss.mmm:\t" then one whole text
        ASSERT_GT(line.size(), 25u);
        ASSERT_EQ(line[24], u'\t');
        std::u16string body = line.substr(25);
        if (body.starts_with(u"child line ")) ++child_;
        else if (body.starts_with(u"parent line ")) ++parent;
        else if (body.starts_with(u"thread line ")) ++thread;
        else EXPECT_EQ(body, u"last");
    }
    EXPECT_EQ(start, text.size());
    EXPECT_EQ(lines, 3 * kLines + 1);
    EXPECT_EQ(child_, kLines);
    EXPECT_EQ(parent, kLines);
    EXPECT_EQ(thread, kLines);
}

TEST_F(SharedTest, ReportLogsThenBoxesOrBroadcasts) {
    SharedLog log;
    ASSERT_TRUE(log.Open(dir_ + "/vp_log.txt"));
    std::atomic<int> seen{0};
    std::atomic<std::uint64_t> wParam{0};
    std::atomic<std::int64_t> lParam{-1};
    platform::UINT notify = platform::RegisterWindowMessage(NotifyMessageName());
    ASSERT_GE(notify, 0xC000u);
    auto listener = platform::Window::Create("listener", "", [&](const platform::WindowMessage& m) {
        if (m.msg == notify) {
            wParam = m.wParam;
            lParam = m.lParam;
            ++seen;
        }
        return platform::LRESULT(0);
    });
    ASSERT_TRUE(listener);

    Reporter boxes(AgentCaption(), &log, false, notify);
    boxes.Plain("Target application is inaccessible.", kMsgTargetInaccessible);
    boxes.System("Failed to get print job info.", kMsgPrintJobInfo, platform::ERROR_FILE_NOT_FOUND);
    platform::SetLastError(0);
    boxes.System("nothing to say", kMsgPrintJobInfo);  // no error at all: nothing shown

    Reporter broadcast(AgentCaption(), &log, true, notify);
    broadcast.Plain("Message with no code", 0);  // code 0 still shows a box
    broadcast.System("Failed to create event object [0].", kMsgEvent0, platform::ERROR_ACCESS_DENIED);
    for (int i = 0; i < 500 && seen == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(wParam, 0xF002u);
    EXPECT_EQ(lParam, 5);

    EXPECT_EQ(Read(dir_ + "/boxes.jsonl"),
              "{\"caption\":\"Vellumate agent\",\"text\":\"Target application is inaccessible.\",\"icon\":\"error\","
              "\"buttons\":\"ok\",\"answer\":\"ok\"}\n"
              "{\"caption\":\"Vellumate agent\",\"text\":\"Failed to get print job info.\\nError # 2: The system cannot "
              "find the file specified.\",\"icon\":\"error\",\"buttons\":\"ok\",\"answer\":\"ok\"}\n"
              "{\"caption\":\"Vellumate agent\",\"text\":\"Message with no code\",\"icon\":\"error\",\"buttons\":\"ok\","
              "\"answer\":\"ok\"}\n");
    std::string logText = Read(dir_ + "/vp_log.txt");
    EXPECT_NE(logText.find(Utf16(u"Failed to create event object [0].\nError # 5: Access is denied.\r\n")),
              std::string::npos);
    EXPECT_EQ(logText.find(Utf16(u"nothing to say")), std::string::npos);
}

TEST_F(SharedTest, LanguageLookupAndSubstitutions) {
    using namespace platform;
    std::string lng = dir_ + "/vmate.lng";
    std::ofstream(lng) << "[English]\n111=%PRINTER_NAME% is broken.\\nReinstall %PRINTER_NAME%.\n61447=\n"
                       << "[Deutsch]\n111=Drucker %PRINTER_NAME% kaputt\n112=" << std::string(10000, 'y') << "\n";
    // No key anywhere: English.
    EXPECT_EQ(LanguageName(), "English");
    EXPECT_EQ(LocalText(111, "builtin", lng), "Vellumate is broken.\nReinstall Vellumate.");
    EXPECT_EQ(LocalText(61447, "Target application is inaccessible.", lng), "Target application is inaccessible.");
    EXPECT_EQ(LocalText(113, "The %PRINTER_NAME% printer", lng), "The Vellumate printer");

    ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, DefaultsKey(), kLanguageValue, "Deutsch"), ERROR_SUCCESS);
    EXPECT_EQ(LanguageName(), "Deutsch");
    EXPECT_EQ(LocalText(111, "builtin", lng), "Drucker Vellumate kaputt");
    EXPECT_EQ(LocalText(112, "builtin", lng), std::string(1023, 'y'));  // read up to 1024 characters
    EXPECT_EQ(LocalText(111, "builtin", dir_ + "/missing.lng"), "builtin");

    // HKCU's key exists without a value: English, whatever the defaults say.
    HKEY k;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, RegistryKey().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_EQ(LanguageName(), "English");
    ASSERT_EQ(RegSetString(HKEY_CURRENT_USER, RegistryKey(), kLanguageValue, "Unknown"), ERROR_SUCCESS);
    EXPECT_EQ(LocalText(111, "builtin %PRINTER_NAME%", lng), "builtin Vellumate");
}

TEST(SharedLanguageFile, ShippedFileHasEveryPlainMessageInEveryLanguage) {
    std::string lng = std::string(VM_SOURCE_DIR) + "/vmate.lng";
    for (const char* lang : {"English", "Deutsch", "Français"}) {
        setenv("VELLUMATE_REGISTRY", "/nonexistent/registry", 1);
        for (unsigned code : {111u, 112u, 113u, 0xF007u, 0xF008u, 0xF009u, 0xF010u}) {
            std::string text = platform::ProfileGetString(lng, lang, std::to_string(code));
            EXPECT_FALSE(text.empty()) << lang << " " << code;
        }
    }
}
