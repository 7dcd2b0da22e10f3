#include "job.h"

#include "job_rules.h"

#include "printer/relay/page_list.h"
#include "printer/shared/language.h"
#include "printer/shared/names.h"
#include "printer/shared/report.h"
#include "printer/shared/shared_log.h"
#include "printer/shared/ticket.h"

#include "platform/clipboard.h"
#include "platform/cmdline.h"
#include "platform/printer.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/step_times.h"
#include "platform/text.h"
#include "platform/windows.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace platform;
namespace tk = vmshared::ticket;

namespace agent {

namespace {

constexpr std::size_t kMaxText = 260;
constexpr DWORD kIdleLong = 20000;
constexpr DWORD kIdleClient = 10000;
// Mode 1 looks for a client window that appears late every 250 ms, 80 times
// (20 seconds) at most.
constexpr int kWindowLooks = 80;
constexpr auto kWindowLookPause = std::chrono::milliseconds(250);

std::string KeyText() { return "Failed to open registry key\nHKLM\\Software\\" + std::string(vmshared::kProduct); }

// A string value cut as a 260-character buffer cuts it; absent values stay empty.
std::string ReadText(HKEY key, const char* name) {
    std::string out;
    char buf[kMaxText * 4] = {};
    DWORD type = 0, size = sizeof buf;
    if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        out.assign(buf, strnlen(buf, std::min<std::size_t>(size, sizeof buf)));
        if (out.size() > kMaxText - 1) out.resize(kMaxText - 1);
    }
    return out;
}

DWORD ReadNumber(HKEY key, const char* name) {
    DWORD type = 0, v = 0, size = sizeof v;
    if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) == ERROR_SUCCESS &&
        type == REG_DWORD)
        return v;
    return 0;
}

struct ClientSettings {
    std::string application, windowClass, windowTitle, clipboardFormat;
    DWORD transferMode = 0, messageId = 0;
};

class Job {
public:
    Job(const AgentContext& c, bool shared) : c_(c), shared_(shared) {}
    Job(const AgentContext& c, std::string ticket) : c_(c), shared_(false), ticket_(std::move(ticket)) {}
    void Run();
    void Deliver();

private:
    bool TakeTicket();
    bool ReadClientSettings();
    bool PrepareAndConvert();  // false when the preprocessor cancelled the job
    void CloseProgress();
    // Each answers whether the job reached its finish (the purge of printed jobs).
    bool ModeCopyData();
    bool ModeClipboard();
    bool ModeRunClient();
    HWND FindClient() const;
    void BringClientToFront();
    void DeleteTicket();
    void NotConfigured() {
        Plain(vmshared::kMsgNotConfigured,
              "The %PRINTER_NAME% printer has not been properly configured. Please re-install the %PRINTER_NAME% "
              "software.");
    }
    void Log(std::string_view text) { c_.log->Append(text); }
    void Plain(unsigned code, std::string_view builtin) { c_.report->Plain(vmshared::LocalText(code, builtin), code); }
    std::string Program(const char* name) const {
        return JoinCommandLine({c_.programFolder + "/" + name}) + " " + ticket_;
    }

    const AgentContext& c_;
    bool shared_;
    std::string ticket_;
    ClientSettings s_;
    std::string command_;
    ChildProcess progress_, client_;
};

void Job::Run() {
    MarkHop("job thread started");
    Log("Processing thread started.");
    PurgePrintedJobs();
    MarkHop("printed jobs purged");
    if (!TakeTicket()) return;
    MarkHop("ticket taken");
    if (c_.log->IsOpen())
        Log("Print job info successfully retrieved. JobID=" +
            std::to_string(ProfileGetInt(ticket_, tk::kDocument, tk::kJobId, 0)));
    Deliver();
}

// From the client settings to the client's receipt of the ticket.
void Job::Deliver() {
    if (!ReadClientSettings()) return;
    if (s_.application.empty()) {
        Plain(vmshared::kMsgFileMissing, "The %PRINTER_NAME% printer has not been properly configured. A required "
                                         "file could not be located. Please contact support.");
        DeleteTicket();
        return;
    }
    command_ = ClientCommand(s_.application);
    bool finished = s_.transferMode == 1 ? ModeCopyData() : s_.transferMode == 2 ? ModeClipboard() : ModeRunClient();
    if (finished) PurgePrintedJobs();
}

// Takes the ticket's path from the registry and deletes the value.
bool Job::TakeTicket() {
    RegKeyHolder key;
    LSTATUS e = RegOpenKeyEx(HKEY_LOCAL_MACHINE, vmshared::RegistryKey().c_str(), 0, KEY_READ, key.Out());
    if (e != ERROR_SUCCESS) {
        c_.report->System(KeyText(), vmshared::kMsgRegistryKey, static_cast<DWORD>(e));
        return false;
    }
    std::string name = vmshared::JobValueName(c_.majorVersion, shared_, vmshared::UserName());
    for (const std::string& candidate : {name, std::string(vmshared::kSystemValue)}) {
        char buf[kMaxText] = {};
        DWORD type = 0, size = sizeof buf;
        e = RegQueryValueEx(key.Get(), candidate.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
        if (e == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) e = ERROR_UNSUPPORTED_TYPE;
        if (e == ERROR_SUCCESS) {
            ticket_.assign(buf, strnlen(buf, sizeof buf));
            name = candidate;
            break;
        }
    }
    if (e != ERROR_SUCCESS) {
        c_.report->System("Failed to get print job info.", vmshared::kMsgPrintJobInfo, static_cast<DWORD>(e));
        return false;
    }
    key.Reset();
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, vmshared::RegistryKey().c_str(), 0, KEY_SET_VALUE, key.Out()) ==
        ERROR_SUCCESS)
        RegDeleteValue(key.Get(), name.c_str());
    return true;
}

bool Job::ReadClientSettings() {
    RegKeyHolder key;
    LSTATUS e = RegOpenKeyEx(HKEY_LOCAL_MACHINE, vmshared::RegistryKey().c_str(), 0, KEY_READ, key.Out());
    if (e == ERROR_FILE_NOT_FOUND) {
        NotConfigured();
        return false;
    }
    if (e != ERROR_SUCCESS) {
        c_.report->System(KeyText(), vmshared::kMsgRegistryKey, static_cast<DWORD>(e));
        return false;
    }
    s_.application = ReadText(key.Get(), vmshared::kClientApplicationValue);
    s_.transferMode = ReadNumber(key.Get(), vmshared::kTransferModeValue);
    s_.windowClass = ReadText(key.Get(), vmshared::kTargetWindowClassValue);
    s_.windowTitle = ReadText(key.Get(), vmshared::kTargetWindowTitleValue);
    s_.clipboardFormat = ReadText(key.Get(), vmshared::kClipboardFormatValue);
    s_.messageId = ReadNumber(key.Get(), vmshared::kMessageIdValue);
    return true;
}

// Preprocess, check the result, show progress, convert.
bool Job::PrepareAndConvert() {
    ChildProcess pre;
    MarkHop("preprocess starts");
    if (pre.Start(Program("preprocess"))) {
        Log("Preprocessing finished.");
        pre.Wait();
    }
    MarkHop("preprocess ended");
    char result[256] = {};
    GetPrivateProfileString(tk::kDocument, tk::kPreprocessingResult, "", result, sizeof result, ticket_.c_str());
    if (IsCancelled(result)) return false;

    if (progress_.Start(Program("progress"))) {
        progress_.WaitForInputIdle(kIdleLong);
        Log("Progress indicator started.");
        MarkHop("progress ready");
    }

    Log("Starting converter.");
    MarkHop("relay starts");
    ChildProcess relay;
    if (!relay.Start(Program("vmrelay"))) {
        Plain(vmshared::kMsgNoConverter, "Cannot find converter executable.");
        DeleteTicket();
    } else {
        relay.Wait();
        MarkHop("relay ended");
        Log("Converter finished.");
    }
    return true;
}

// Closes our own progress window; another job's progress window of the
// same class is left alone.
void Job::CloseProgress() {
    if (!progress_.Started()) return;
    std::string cls = vmshared::ProgressClassName();
    HWND window = 0;
    for (const WindowEntry& w : EnumWindows())
        if (w.pid == progress_.Pid() && FoldCase(w.cls) == FoldCase(cls)) window = w.hwnd;
    if (!window) window = FindWindow(cls.c_str(), nullptr);
    if (window) PostMessage(window, WM_CLOSE, 0, 0);
    progress_ = ChildProcess();
    Log("Progress indicator process terminated.");
}

HWND Job::FindClient() const {
    return FindWindow(s_.windowClass.empty() ? nullptr : s_.windowClass.c_str(),
                      s_.windowTitle.empty() ? nullptr : s_.windowTitle.c_str());
}

bool Job::ModeCopyData() {
    if (s_.windowClass.empty() && s_.windowTitle.empty()) {
        NotConfigured();
        DeleteTicket();
        return false;
    }
    if (!PrepareAndConvert()) return false;
    HWND window = FindClient();
    if (!window && client_.Start(command_) && client_.WaitForInputIdle(kIdleLong) == 0) {
        for (int i = 0; i < kWindowLooks && !(window = FindClient()); ++i) std::this_thread::sleep_for(kWindowLookPause);
    }
    CloseProgress();
    WindowMessage m;
    m.msg = WM_COPYDATA;
    m.copyDataId = s_.messageId;
    bool fits = PathBlock(ticket_, &m.copyData);
    Log("Sending WM_COPYDATA.");
    if (window && fits && SendMessage(window, m)) {
        SetForegroundWindow(window);
        return true;
    }
    // No window, one that went away, or a path the block cannot hold: the
    // ticket and its pages stay for a later try.
    Plain(vmshared::kMsgTargetInaccessible, "Target application is inaccessible.");
    return true;
}

bool Job::ModeClipboard() {
    if (s_.windowClass.empty() && s_.windowTitle.empty()) {
        NotConfigured();
        DeleteTicket();
        return false;
    }
    UINT message = ClipboardMessageId(s_.messageId);
    if (!PrepareAndConvert()) return false;
    HWND window = FindClient();
    if (!window && client_.Start(command_) && client_.WaitForInputIdle(kIdleLong) == 0) window = FindClient();
    CloseProgress();
    UINT format = RegisterClipboardFormat(s_.clipboardFormat);
    auto clipboard = Clipboard::Open();
    if (!clipboard) {
        Plain(vmshared::kMsgOpenClipboard, "Failed to open clipboard.");
        return true;
    }
    clipboard->Empty();
    std::string block;
    bool fits = PathBlock(ticket_, &block);
    if (window) {
        if (fits && format && clipboard->SetData(format, block)) {
            clipboard.reset();
            SetForegroundWindow(window);
            PostMessage(window, message, 0, 0);
            return true;
        }
        Plain(vmshared::kMsgSetClipboard, "Failed to set clipboard data.");
    } else {
        Plain(vmshared::kMsgTargetInaccessible, "Target application is inaccessible.");
    }
    clipboard.reset();
    int count = ProfileGetInt(ticket_, tk::kEmf, tk::kCount, 0);
    for (const std::string& page : relay::JobPageFiles(ticket_, count)) unlink(page.c_str());
    DeleteTicket();
    return true;
}

bool Job::ModeRunClient() {
    if (!PrepareAndConvert()) return false;
    CloseProgress();
    std::string command = command_ + " " + ticket_;
    Log("Run client application.");
    if (!client_.Start(command)) {
        Plain(vmshared::kMsgNoDispatcher, "The %PRINTER_NAME% printer has not been properly configured. The external "
                                          "dispatcher could not be run. Please contact support.");
        DeleteTicket();
        return true;
    }
    MarkHop("client started");
    if (client_.WaitForInputIdle(kIdleClient) == 0) BringClientToFront();
    MarkHop("client idle");
    return true;
}

// The first listed window of the client's process comes to the front.
void Job::BringClientToFront() {
    for (const WindowEntry& w : EnumWindows()) {
        if (w.pid != client_.Pid()) continue;
        SetForegroundWindow(w.hwnd);
        return;
    }
}

void Job::DeleteTicket() {
    if (IsTicketFile(ticket_)) unlink(ticket_.c_str());
}

}  // namespace

void ProcessJob(const AgentContext& context, bool sharedEvent) { Job(context, sharedEvent).Run(); }

void DeliverTicket(const AgentContext& context, const std::string& ticket) { Job(context, ticket).Deliver(); }

void PurgePrintedJobs() {
    auto printer = Printer::Open(vmshared::kPrinterName);
    if (!printer) return;
    for (const JobInfo& job : printer->Jobs(256))
        if (job.status & JOB_STATUS_PRINTED) printer->DeleteJob(job.id);
}

}  // namespace agent
