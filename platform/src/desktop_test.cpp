// Message boxes, shell open, paths, version and screen.
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/sysinfo.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

using namespace platform;
using platform::testing::ScopedEnv;
using platform::testing::TempDir;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(MessageBox, StandardErrorDefaultAnswersAndLog) {
    TempDir dir;
    ScopedEnv ui("VELLUMATE_UI", "none");
    ScopedEnv log("VELLUMATE_MSGBOX_LOG", dir / "boxes.jsonl");
    unsetenv("VELLUMATE_MSGBOX_ANSWER");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox("Error", "File \"a b\" not found\n", MsgIcon::Error, MsgButtons::Ok), MsgAnswer::Ok);
    EXPECT_EQ(MessageBox("Vellumate", "Overwrite?", MsgIcon::Question, MsgButtons::YesNo), MsgAnswer::No);
    EXPECT_EQ(MessageBox("Q", "?", MsgIcon::None, MsgButtons::YesNoCancel), MsgAnswer::Cancel);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Error: File \"a b\" not found\n\nVellumate: Overwrite?\nQ: ?\n");
    EXPECT_EQ(ReadText(dir / "boxes.jsonl"),
              "{\"caption\":\"Error\",\"text\":\"File \\\"a b\\\" not found\\n\",\"icon\":\"error\",\"buttons\":\"ok\","
              "\"answer\":\"ok\"}\n"
              "{\"caption\":\"Vellumate\",\"text\":\"Overwrite?\",\"icon\":\"question\",\"buttons\":\"yesno\","
              "\"answer\":\"no\"}\n"
              "{\"caption\":\"Q\",\"text\":\"?\",\"icon\":\"none\",\"buttons\":\"yesnocancel\",\"answer\":\"cancel\"}\n");
}

TEST(MessageBox, ScriptedAnswersAndTheDialogSeam) {
    ScopedEnv answer("VELLUMATE_MSGBOX_ANSWER", "Yes, retry");
    ScopedEnv display("DISPLAY", ":99");
    ScopedEnv ui("VELLUMATE_UI", "qt");
    int shown = 0;
    SetMessageBoxUi([&](std::string_view, std::string_view, MsgIcon, MsgButtons) {
        ++shown;
        return std::optional<MsgAnswer>(MsgAnswer::Ok);
    });
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox("c", "t", MsgIcon::Question, MsgButtons::YesNo), MsgAnswer::Yes);
    EXPECT_EQ(MessageBox("c", "t", MsgIcon::Warning, MsgButtons::RetryCancel), MsgAnswer::Retry);
    EXPECT_EQ(MessageBox("c", "t", MsgIcon::Warning, MsgButtons::OkCancel), MsgAnswer::Cancel);  // "retry" does not fit
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, 0);  // scripted boxes never wait for a person
    unsetenv("VELLUMATE_MSGBOX_ANSWER");
    EXPECT_EQ(MessageBox("c", "t", MsgIcon::None, MsgButtons::OkCancel), MsgAnswer::Ok);
    EXPECT_EQ(shown, 1);
    SetMessageBoxUi(nullptr);
}

TEST(MessageBox, HeadlessWaitBoxAbortsOnlyWhenScriptedTo) {
    TempDir dir;
    ScopedEnv ui("VELLUMATE_UI", "none");
    ScopedEnv log("VELLUMATE_MSGBOX_LOG", dir / "boxes.jsonl");
    unsetenv("VELLUMATE_MSGBOX_ANSWER");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(HeadlessWaitBox("Wait", "Working..."));
    {
        ScopedEnv answer("VELLUMATE_MSGBOX_ANSWER", "ok");
        EXPECT_FALSE(HeadlessWaitBox("Wait", "Working..."));
    }
    {
        ScopedEnv answer("VELLUMATE_MSGBOX_ANSWER", "Abort");
        EXPECT_TRUE(HeadlessWaitBox("Wait", "Working..."));
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Wait: Working...\nWait: Working...\nWait: Working...\n");
    const std::string line = "{\"caption\":\"Wait\",\"text\":\"Working...\",\"icon\":\"none\",\"buttons\":\"abort\",";
    EXPECT_EQ(ReadText(dir / "boxes.jsonl"), line + "\"answer\":\"none\"}\n" + line + "\"answer\":\"none\"}\n" + line +
                                                 "\"answer\":\"abort\"}\n");
}

TEST(MessageBox, JsonQuoteEscapesControlsAndInvalidBytes) {
    EXPECT_EQ(JsonQuote("a\\b\x01"), "\"a\\\\b\\u0001\"");
    EXPECT_EQ(JsonQuote("caf\xE9"), "\"caf\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonQuote("\xE2\x82\xAC"), "\"\xE2\x82\xAC\"");
}

TEST(Shell, OpenAnswersAboveOrAtMost32) {
    TempDir dir;
    std::string doc = dir / "a b.pdf";
    std::ofstream(doc) << "x";
    std::string opener = dir / "opener.sh";
    std::ofstream(opener) << "#!/bin/sh\necho \"$1\" > " << (dir / "opened") << "\nexit $VM_OPENER_STATUS\n";
    chmod(opener.c_str(), 0755);
    ScopedEnv env("VELLUMATE_OPEN", opener);
    {
        ScopedEnv status("VM_OPENER_STATUS", "0");
        EXPECT_GT(ShellOpen(doc), 32);
        EXPECT_EQ(ReadText(dir / "opened"), doc + "\n");
        EXPECT_GT(ShellOpen("http://example.test/x"), 32);
    }
    {
        ScopedEnv status("VM_OPENER_STATUS", "4");
        EXPECT_LE(ShellOpen(doc), 32);
    }
    EXPECT_LE(ShellOpen(dir / "missing.pdf"), 32);
    ScopedEnv none("VELLUMATE_OPEN", dir / "no-opener");
    EXPECT_LE(ShellOpen(doc), 32);
}

TEST(Shell, DocumentsFolderIsCreated) {
    TempDir home;
    ScopedEnv h("HOME", home.path());
    ScopedEnv c("XDG_CONFIG_HOME", home / "cfg");
    unsetenv("XDG_DOCUMENTS_DIR");
    EXPECT_EQ(DocumentsFolder(), home / "Documents");
    EXPECT_TRUE(std::filesystem::is_directory(home / "Documents"));
    std::filesystem::create_directories(home / "cfg");
    std::ofstream(home / "cfg/user-dirs.dirs") << "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    EXPECT_EQ(DocumentsFolder(), home / "Dokumente");
    EXPECT_TRUE(std::filesystem::is_directory(home / "Dokumente"));
}

TEST(Paths, ProgramAndTemporaryNames) {
    EXPECT_EQ(FileNameOf(ProgramPath()), "platform_desktop_test");
    EXPECT_EQ(ProgramFolder() + "/platform_desktop_test", ProgramPath());
    EXPECT_EQ(FolderOf("/a/b.c"), "/a");
    EXPECT_EQ(FolderOf("/b"), "/");
    EXPECT_EQ(FolderOf("b"), "");

    TempDir dir;
    {
        ScopedEnv t("TMPDIR", dir.path() + "/");
        EXPECT_EQ(TempFolder(), dir.path());
        std::string a = MakeTempFile("", "emf"), b = MakeTempFile("", "emf");
        EXPECT_NE(a, b);
        EXPECT_EQ(FolderOf(a), dir.path());
        EXPECT_EQ(FileNameOf(a).substr(0, 3), "emf");
        EXPECT_EQ(a.substr(a.size() - 4), ".tmp");
        EXPECT_TRUE(std::filesystem::exists(a));
        std::string f = MakeTempFolder(dir.path(), "vm");
        EXPECT_TRUE(std::filesystem::is_directory(f));
        EXPECT_EQ(MakeTempFile("", "a/b"), "");
        EXPECT_EQ(MakeTempFile(dir / "missing", "x"), "");
    }
    ScopedEnv t("TMPDIR", dir / "missing");
    EXPECT_EQ(TempFolder(), "/tmp");
}

TEST(SysInfo, VersionAndScreen) {
    VersionNumbers v = ProductVersion();
    EXPECT_EQ(ProductVersionString(), std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch));
    EXPECT_EQ(ScreenDeviceCaps(LOGPIXELSX), 96);
    EXPECT_EQ(ScreenDeviceCaps(LOGPIXELSY), 96);
    EXPECT_EQ(ScreenDeviceCaps(HORZRES), 1920);
    EXPECT_EQ(ScreenDeviceCaps(VERTRES), 1080);
    EXPECT_EQ(ScreenDeviceCaps(HORZSIZE), 508);
    EXPECT_EQ(ScreenDeviceCaps(VERTSIZE), 286);
    EXPECT_EQ(ScreenDeviceCaps(9999), 0);
}
