// The pipeline's programs end to end: dispatcher, vmrelay, pathprobe and
// vmevent, with a private registry, runtime folder (and so spool folder and
// log), message-box log and print service.
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sync.h"

#include "cupsd_fixture.h"

#include "private_session.h"
#include "run_program.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace platform;
namespace fs = std::filesystem;

namespace {

std::string Bin(const std::string& name) { return std::string(VM_BIN_DIR) + "/" + name; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts a built program with arguments; answers its process id.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        std::string path = Bin(program);
        argv.push_back(path.data());
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

// Runs a built program with arguments (its standard error dropped); answers its exit status.
int RunProgram(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv{Bin(program)};
    argv.insert(argv.end(), args.begin(), args.end());
    return vmtest::RunArgv(argv, true);
}

class Pipeline : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vmpipe-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir_ = tmpl;
        vmtest::UsePrivateSession(dir_);
        setenv("VELLUMATE_CREATION_TIME", "mtime", 1);
        spool_ = dir_ + "/run/vellumate/spool/";
        fs::create_directories(spool_);
        fs::permissions(dir_ + "/run/vellumate", fs::perms::owner_all);
        fs::permissions(spool_, fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A page file: a real metafile, `minutes` old (negative: in the future).
    void Page(const std::string& name, int minutes) {
        fs::copy_file(std::string(VM_TEST_SUPPORT_DIR) + "/../emf/fixtures/office.emf", spool_ + name,
                      fs::copy_options::overwrite_existing);
        fs::last_write_time(spool_ + name, fs::file_time_type::clock::now() - std::chrono::minutes(minutes));
    }
    std::string Boxes() { return ReadFile(dir_ + "/boxes.jsonl"); }
    std::string PrintJob() {
        std::string v;
        RegGetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Print Job", &v);
        return v;
    }
    std::vector<std::string> Tickets() {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(spool_))
            if (e.path().extension() == ".INI") out.push_back(e.path().string());
        return out;
    }
    // A ticket as the dispatcher writes it, for vmrelay.
    std::string Ticket(const std::string& device, int pages) {
        std::string t = spool_ + "0000abcd.INI";
        ProfileSetString(t, "Device", "DeviceName", device);
        ProfileSetString(t, "Document", "Name", "doc");
        ProfileSetString(t, "Document", "Pages", std::to_string(pages));
        ProfileSetString(t, "EMF", "Count", std::to_string(pages));
        for (int i = 0; i < pages; ++i) {
            std::string page = spool_ + "~emf" + std::to_string(i) + ".emf";
            std::ofstream(page) << "page";
            ProfileSetString(t, "EMF", "File" + std::to_string(i), page);
        }
        return t;
    }

    std::string dir_, spool_;
};

const char kNoAgent[] =
    "{\"caption\":\"Vellumate dispatcher\",\"text\":\"The Vellumate printing agent was not found.\\nPlease reboot "
    "computer or re-install the application.\",\"icon\":\"error\",\"buttons\":\"ok\",\"answer\":\"ok\"}\n";

}  // namespace

TEST_F(Pipeline, DispatcherWritesTheTicketAndWakesTheWaitingProcess) {
    vmtest::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Started());
    Page("~emf7-1.tmp", 59);
    Page("~emf7-2.tmp", 61);
    Page("~emf7-3.tmp", -5);
    Page("~emf7-10.tmp", 1);
    // The waiting process holds the event as the agent does.
    pid_t waiter = fork();
    if (waiter == 0) {
        auto e = NamedEvent::Create("Vellumate_printevent", true, false);
        _exit(e && e->Wait(30000) == WAIT_OBJECT_0 ? 0 : 1);
    }
    for (int i = 0; i < 500 && !NamedEvent::Open("Vellumate_printevent"); ++i) usleep(10000);

    ASSERT_EQ(RunProgram("dispatcher", {"\"Quarterly\"", "report.doc"}), 0);
    int status = 0;
    waitpid(waiter, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Boxes(), "");

    std::string ticket = PrintJob();
    ASSERT_EQ(Tickets(), std::vector<std::string>{ticket});
    EXPECT_EQ(fs::path(ticket).filename().string().size(), 12u);  // %08x.INI
    EXPECT_EQ(ProfileSections(ticket), (std::vector<std::string>{"Device", "Document", "EMF"}));
    EXPECT_EQ(ProfileKeys(ticket, "Document"),
              (std::vector<std::string>{"Name", "HorizontalResolution", "VerticalResolution", "Orientation",
                                        "PaperSize", "PaperSizeName", "PaperWidth", "PaperLength", "Pages", "Copies",
                                        "Collate", "Bin", "BinName"}));
    auto get = [&](const char* s, const char* k) { return ProfileGetString(ticket, s, k, "(missing)"); };
    EXPECT_EQ(get("Device", "DeviceName"), "Vellumate");
    EXPECT_EQ(get("Document", "Name"), "\"Quarterly\" report.doc");
    EXPECT_EQ(get("Document", "HorizontalResolution"), "600");
    EXPECT_EQ(get("Document", "VerticalResolution"), "1200");
    EXPECT_EQ(get("Document", "Orientation"), "1");
    EXPECT_EQ(get("Document", "PaperSize"), "9");
    EXPECT_EQ(get("Document", "PaperSizeName"), "A4");
    EXPECT_EQ(get("Document", "PaperWidth"), "2100");
    EXPECT_EQ(get("Document", "PaperLength"), "2970");
    EXPECT_EQ(get("Document", "Pages"), "2");
    EXPECT_EQ(get("Document", "Copies"), "1");
    EXPECT_EQ(get("Document", "Collate"), "0");
    EXPECT_EQ(get("Document", "Bin"), "1");
    EXPECT_EQ(get("Document", "BinName"), "Upper Tray");
    EXPECT_EQ(ProfileKeys(ticket, "EMF"), (std::vector<std::string>{"Count", "File0", "File1"}));
    EXPECT_EQ(get("EMF", "Count"), "2");
    EXPECT_EQ(get("EMF", "File0"), spool_ + "~emf7-1.emf");
    EXPECT_EQ(get("EMF", "File1"), spool_ + "~emf7-10.emf");
    EXPECT_EQ(ReadFile(spool_ + "~emf7-10.emf"), ReadFile(spool_ + "~emf7-10.tmp"));
    EXPECT_TRUE(fs::exists(spool_ + "~emf7-1.tmp"));  // the printing side's files stay
    EXPECT_FALSE(fs::exists(spool_ + "~emf7-2.emf"));
    EXPECT_FALSE(fs::exists(spool_ + "~emf7-3.emf"));
    // The printing side deletes its page files once the job has them: the job's pages stay whole.
    const std::string page = ReadFile(spool_ + "~emf7-10.tmp");
    fs::remove(spool_ + "~emf7-10.tmp");
    EXPECT_EQ(ReadFile(spool_ + "~emf7-10.emf"), page);
}

TEST_F(Pipeline, DispatcherWithoutAgentShowsTheMessageAndStillStoresTheJob) {
    vmtest::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Started());
    Page("~emf1.tmp", 0);
    fs::create_directory(spool_ + "~emf2.emf");  // the copy of this page cannot be made
    Page("~emf2.tmp", 0);
    // The box goes into a pipe, so the dispatcher waits there while the test
    // takes a handle to its event and can see the event being set after it.
    std::string fifo = dir_ + "/boxes.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    setenv("VELLUMATE_MSGBOX_LOG", fifo.c_str(), 1);
    // A title with line breaks stays one line of the ticket.
    pid_t pid = StartProgram("dispatcher", {"doc\n[EMF]\r\nFile0=/etc/passwd"});
    std::unique_ptr<NamedEvent> event;
    for (int i = 0; i < 2000 && !event; ++i) {
        event = NamedEvent::Open("Vellumate_printevent");
        if (!event) usleep(5000);
    }
    ASSERT_TRUE(event);
    EXPECT_EQ(event->Wait(0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(ReadFile(fifo), kNoAgent);
    EXPECT_EQ(event->Wait(10000), WAIT_OBJECT_0);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string ticket = PrintJob();
    EXPECT_EQ(ProfileGetString(ticket, "Document", "Name"), "doc [EMF]  File0=/etc/passwd");
    EXPECT_EQ(ProfileSections(ticket), (std::vector<std::string>{"Device", "Document", "EMF"}));
    EXPECT_EQ(ProfileGetString(ticket, "EMF", "File0"), spool_ + "~emf1.emf");
    EXPECT_EQ(ProfileGetString(ticket, "EMF", "File1"), "Invalid metafile");
    EXPECT_EQ(ProfileGetString(ticket, "EMF", "Count"), "2");
}

TEST_F(Pipeline, DispatcherPaperNotInTheListGivesEmptyPaperKeys) {
    vmtest::PrivateCupsd cupsd("Tabloid");
    ASSERT_TRUE(cupsd.Started());
    Page("~emf1.tmp", 0);
    ASSERT_EQ(RunProgram("dispatcher", {"doc"}), 0);
    std::string ticket = PrintJob();
    EXPECT_EQ(ProfileGetString(ticket, "Document", "PaperSize"), "3");
    for (const char* k : {"PaperSizeName", "PaperWidth", "PaperLength"})
        EXPECT_EQ(ProfileGetString(ticket, "Document", k, "(missing)"), "") << k;
}

TEST_F(Pipeline, DispatcherFailurePaths) {
    {
        vmtest::PrivateCupsd noQueue("");
        ASSERT_TRUE(noQueue.Started());
        Page("~emf1.tmp", 0);
        ASSERT_EQ(RunProgram("dispatcher", {"doc"}), 0);
        EXPECT_EQ(Boxes(),
                  "{\"caption\":\"Vellumate\",\"text\":\"OpenPrinter() error!\\nError # 1801: The printer name is "
                  "invalid.\",\"icon\":\"error\",\"buttons\":\"ok\",\"answer\":\"ok\"}\n");
        EXPECT_TRUE(Tickets().empty());
        EXPECT_EQ(PrintJob(), "");
    }
    fs::remove(dir_ + "/boxes.jsonl");
    vmtest::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Started());
    // Only old pages: no ticket, no signal, no message.
    Page("~emf1.tmp", 90);
    ASSERT_EQ(RunProgram("dispatcher", {"doc"}), 0);
    EXPECT_TRUE(Tickets().empty());
    EXPECT_EQ(PrintJob(), "");
    EXPECT_EQ(Boxes(), "");
    // A registry that cannot be written: the ticket stays, nobody is signalled.
    Page("~emf1.tmp", 0);
    ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, "Software\\Other", "x", "y"), ERROR_SUCCESS);
    chmod((dir_ + "/reg/machine.db").c_str(), 0444);
    ASSERT_EQ(RunProgram("dispatcher", {"doc"}), 0);
    chmod((dir_ + "/reg/machine.db").c_str(), 0644);
    EXPECT_EQ(Tickets().size(), 1u);
    EXPECT_EQ(PrintJob(), "");
    EXPECT_NE(Boxes().find("\"caption\":\"Vellumate dispatcher\",\"text\":\"Failed to open registry key\\nHKLM\\\\"
                           "Software\\\\Vellumate\\nError # 5: Access is denied.\""),
              std::string::npos)
        << Boxes();
}

TEST_F(Pipeline, RelayKeepsOrDeletesPagesByTheSettingsPrecedence) {
    const std::string user = "Software\\Vellumate", defaults = "Software\\Vellumate\\Defaults";
    // Absent everywhere: pages deleted, [EMF] gone, the rest kept.
    std::string t = Ticket("Vellumate", 2);
    ASSERT_EQ(RunProgram("vmrelay", {t}), 0);
    EXPECT_FALSE(fs::exists(spool_ + "~emf0.emf"));
    EXPECT_FALSE(fs::exists(spool_ + "~emf1.emf"));
    EXPECT_EQ(ProfileSections(t), (std::vector<std::string>{"Device", "Document"}));
    EXPECT_EQ(ProfileGetString(t, "Document", "Pages"), "2");

    // 0 in the defaults, 1 for the user: kept.
    ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, defaults, "EMF: Enabled", 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, user, "EMF: Enabled", 1), ERROR_SUCCESS);
    t = Ticket("Vellumate", 2);
    ASSERT_EQ(RunProgram("vmrelay", {t}), 0);
    EXPECT_TRUE(fs::exists(spool_ + "~emf1.emf"));
    EXPECT_EQ(ProfileGetString(t, "EMF", "Count"), "2");

    // 1 in the defaults, 0 for the user: deleted. The user's key without the value: the defaults decide.
    ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, defaults, "EMF: Enabled", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, user, "EMF: Enabled", 0), ERROR_SUCCESS);
    t = Ticket("Vellumate", 1);
    ASSERT_EQ(RunProgram("vmrelay", {t}), 0);
    EXPECT_FALSE(fs::exists(spool_ + "~emf0.emf"));
    ASSERT_EQ(RegRemoveValue(HKEY_CURRENT_USER, user, "EMF: Enabled"), ERROR_SUCCESS);
    t = Ticket("Vellumate", 1);
    ASSERT_EQ(RunProgram("vmrelay", {t}), 0);
    EXPECT_TRUE(fs::exists(spool_ + "~emf0.emf"));
    EXPECT_EQ(Boxes(), "");
}

TEST_F(Pipeline, RelayRefusesOtherTicketsAndBadPaths) {
    std::string t = Ticket("vellumate", 1);  // another printer, differing only in case
    std::string before = ReadFile(t);
    EXPECT_EQ(RunProgram("vmrelay", {t}), 1);
    EXPECT_EQ(ReadFile(t), before);
    EXPECT_TRUE(fs::exists(spool_ + "~emf0.emf"));
    EXPECT_EQ(Boxes(), "");

    // A quoted path names no file (the quotes are part of it).
    EXPECT_EQ(RunProgram("vmrelay", {"\"" + t + "\""}), 0);
    EXPECT_EQ(RunProgram("vmrelay", {}), 0);
    const std::string bad =
        "{\"caption\":\"Vellumate converter\",\"text\":\"Invalid command line parameter.\",\"icon\":\"error\","
        "\"buttons\":\"ok\",\"answer\":\"ok\"}\n";
    EXPECT_EQ(Boxes(), bad + bad);

    // No pages; with "Message Mode" 1 the code is broadcast, not shown.
    fs::remove(dir_ + "/boxes.jsonl");
    t = Ticket("Vellumate", 0);
    EXPECT_EQ(RunProgram("vmrelay", {t}), 0);
    EXPECT_NE(Boxes().find("No pages to process."), std::string::npos);
    fs::remove(dir_ + "/boxes.jsonl");
    ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Message Mode", 1), ERROR_SUCCESS);
    EXPECT_EQ(RunProgram("vmrelay", {"\"quoted\""}), 0);
    EXPECT_EQ(Boxes(), "");
}

TEST_F(Pipeline, RelayDeletesOnlyTheJobsOwnPageFiles) {
    std::string outside = dir_ + "/precious.txt";
    std::ofstream(outside) << "keep";
    std::ofstream(spool_ + "notapage.txt") << "keep";
    std::ofstream(spool_ + "~emf9.emf") << "page";
    std::string t = Ticket("Vellumate", 1);
    ProfileSetString(t, "EMF", "Count", "2147483647");  // huge: only the entries there are read
    ProfileSetString(t, "EMF", "File1", outside);
    ProfileSetString(t, "EMF", "File2", spool_ + "notapage.txt");
    ProfileSetString(t, "EMF", "File3", spool_ + "../" + fs::path(spool_).parent_path().filename().string() + "/~emf9.emf");
    ProfileSetString(t, "EMF", "File4", "Invalid metafile");
    ProfileSetString(t, "EMF", "File5", spool_ + "~emf9.emf");
    ASSERT_EQ(RunProgram("vmrelay", {t}), 0);
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_TRUE(fs::exists(spool_ + "notapage.txt"));
    EXPECT_FALSE(fs::exists(spool_ + "~emf0.emf"));
    EXPECT_FALSE(fs::exists(spool_ + "~emf9.emf"));
    EXPECT_EQ(ProfileKeys(t, "EMF"), std::vector<std::string>{});

    t = Ticket("Vellumate", 1);
    ProfileSetString(t, "EMF", "Count", "-5");  // negative: nothing listed, the section still goes
    ASSERT_EQ(RunProgram("vmrelay", {t}), 0);
    EXPECT_TRUE(fs::exists(spool_ + "~emf0.emf"));
    EXPECT_EQ(ProfileSections(t), (std::vector<std::string>{"Device", "Document"}));
}

TEST_F(Pipeline, RelayWritesTheSharedLog) {
    ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Log", 1), ERROR_SUCCESS);
    std::string t = Ticket("Vellumate", 1);
    ASSERT_EQ(RunProgram("vmrelay", {t}), 0);
    std::string log = ReadFile(dir_ + "/run/vellumate/vp_log.txt");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.substr(0, 2), "\xFF\xFE");
    std::string text;
    for (std::size_t i = 2; i < log.size(); i += 2) text += log[i];
    EXPECT_NE(text.find(":\tConverter started.\r\n"), std::string::npos);
    EXPECT_NE(text.find(":\tDelete EMF files.\r\n"), std::string::npos);
    EXPECT_NE(text.find(":\tConverter exits.\r\n"), std::string::npos);
}

TEST_F(Pipeline, PathprobePublishesTheWholeCommandLine) {
    std::string v;
    ASSERT_EQ(RunProgram("pathprobe", {}), 0);
    ASSERT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vellumate", "tmpIniPath", &v), ERROR_SUCCESS);
    EXPECT_EQ(v, "");
    ASSERT_EQ(RunProgram("pathprobe", {"/tmp/my", "spool/0000abcd.INI"}), 0);
    ASSERT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vellumate", "tmpIniPath", &v), ERROR_SUCCESS);
    EXPECT_EQ(v, "/tmp/my spool/0000abcd.INI");
    chmod((dir_ + "/reg/machine.db").c_str(), 0444);
    EXPECT_EQ(RunProgram("pathprobe", {"x"}), 255);  // -1
    chmod((dir_ + "/reg/machine.db").c_str(), 0644);
}

TEST_F(Pipeline, VmeventSetsResetsAndWaits) {
    EXPECT_EQ(RunProgram("vmevent", {"set", "Vellumate_killevent"}), 1);  // nobody holds it
    EXPECT_EQ(RunProgram("vmevent", {"wait", "Vellumate_killevent", "20"}), 1);
    EXPECT_EQ(RunProgram("vmevent", {"bogus"}), 2);
    auto kill = NamedEvent::Create("Vellumate_killevent", true, false);
    ASSERT_TRUE(kill);
    EXPECT_EQ(RunProgram("vmevent", {"set", "Vellumate_killevent"}), 0);
    EXPECT_EQ(kill->Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(RunProgram("vmevent", {"wait", "Vellumate_killevent"}), 0);
    EXPECT_EQ(RunProgram("vmevent", {"reset", "Vellumate_killevent"}), 0);
    EXPECT_EQ(kill->Wait(0), static_cast<DWORD>(WAIT_TIMEOUT));
}
