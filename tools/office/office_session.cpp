#include "office_session.h"

#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/process.h"

namespace vmoffice {

using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;
namespace fs = std::filesystem;

namespace {

std::mutex g_sessionMutex;
// The run's session. Never destroyed at exit: the session ends by EndRun,
// and a process that exits without it takes its office along (see Start).
std::shared_ptr<OfficeSession>& g_session = *new std::shared_ptr<OfficeSession>;

// The office asks to be started again after it made a new profile.
constexpr int kRestartStatus[] = {79, 81};

}  // namespace

void OfficeLog(const std::string& line) {
    const char* file = getenv("VELLUMATE_OFFICE_LOG");
    if (!file || !*file) return;
    const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const std::string text = line + "\n";
    ssize_t ignored = ::write(fd, text.data(), text.size());
    (void)ignored;
    ::close(fd);
}

namespace {

rtl::OUString Ou(const std::string& s) { return rtl::OStringToOUString(s.c_str(), RTL_TEXTENCODING_UTF8); }

// The component context of this process, made once: it holds the URL
// resolver and the bridge to every office process we start.
Reference<css::uno::XComponentContext> LocalContext() {
    static Reference<css::uno::XComponentContext> local = [] {
        // The office's own types (documents, printing, the desktop) are in
        // the rdb files of its types folder, which the runtime's ini names
        // only when the office itself starts: without them the bridge cannot
        // build its proxies for those interfaces.
        rtl::Bootstrap::set("URE_MORE_TYPES", Ou(std::string("<") + VM_UNO_TYPES + ">*"));
        const char* ini = getenv("VELLUMATE_UNO_INI");
        return cppu::defaultBootstrap_InitialComponentContext(Ou(ini && *ini ? ini : VM_UNO_INI));
    }();
    return local;
}

// The office program: $VELLUMATE_SOFFICE, or soffice on the PATH. Its
// launcher script starts the real program as a grandchild that nothing ties
// to us, so the real program beside it is started directly where it exists.
std::string OfficeProgram() {
    const char* p = getenv("VELLUMATE_SOFFICE");
    const std::string found = platform::FindProgram(p && *p ? p : "soffice");
    if (found.empty()) return found;
    std::error_code ec;
    const fs::path real = fs::canonical(found, ec);
    if (ec) return found;
    const fs::path binary = real.parent_path() / "soffice.bin";
    if (real.filename() == "soffice" && ::access(binary.c_str(), X_OK) == 0) return binary.string();
    return found;
}

// A new profile has the office clear its extension cache and ask for a
// second start (a third of a second): a profile that names the office's own
// build, from the versionrc beside the program, has nothing to clear.
void SeedBuildId(const std::string& program, const std::string& profile) {
    std::ifstream in(fs::path(program).parent_path() / "versionrc");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("buildid=", 0) != 0) continue;
        fs::create_directories(profile + "/user/extensions");
        std::ofstream(profile + "/user/extensions/buildid") << line.substr(8);
        return;
    }
}

// The profile: the spreadsheet prints every sheet rather than only the
// active one (print options cannot ask for it), and no lock file is made
// beside the user's document, not even for the time it is open (nothing is
// written outside the temporary folder): that takes locking off as a whole,
// not only its lock-file kind.
constexpr char kProfileSettings[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    "<item oor:path=\"/org.openoffice.Office.Calc/Print/Other\"><prop oor:name=\"AllSheets\" oor:op=\"fuse\">"
    "<value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"UseDocumentOOoLockFile\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"UseDocumentSystemFileLocking\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"UseLocking\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "</oor:items>\n";

}  // namespace

std::chrono::seconds CallBound() {
    const char* v = getenv("VELLUMATE_OFFICE_TIMEOUT");
    long s = v && *v ? strtol(v, nullptr, 10) : 0;
    return std::chrono::seconds(s > 0 ? s : 300);
}

std::shared_ptr<OfficeSession> OfficeSession::Acquire() {
    std::shared_ptr<OfficeSession> broken;  // ends after the lock is let go
    std::lock_guard<std::mutex> lock(g_sessionMutex);
    if (g_session && !g_session->Broken()) return g_session;
    broken = std::move(g_session);
    // The bridge writes to the office's pipe with plain writes: an office
    // that died must fail the call, not end its client with SIGPIPE.
    struct sigaction pipe {};
    if (sigaction(SIGPIPE, nullptr, &pipe) == 0 && pipe.sa_handler == SIG_DFL) {
        pipe.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &pipe, nullptr);
    }
    std::shared_ptr<OfficeSession> s(new OfficeSession);
    s->watchdog_ = std::thread([p = s.get()] { p->Watch(); });
    try {
        // A new profile makes the office ask for a second start.
        bool up = false;
        for (int attempt = 0; attempt < 3 && !up; ++attempt) {
            s->Start();
            up = s->Connect();
        }
        if (!up) throw OfficeError{"the office program ended while starting"};
        OfficeLog("office started " + std::to_string(s->group_));
    } catch (...) {
        s.reset();  // ends what was started
        throw;
    }
    g_session = s;
    return s;
}

void OfficeSession::EndRun() {
    std::shared_ptr<OfficeSession> s;
    {
        std::lock_guard<std::mutex> lock(g_sessionMutex);
        s = std::move(g_session);
    }
}

bool OfficeSession::Kept() {
    std::lock_guard<std::mutex> lock(g_sessionMutex);
    return g_session != nullptr;
}

void OfficeSession::Start() {
    const std::string program = OfficeProgram();
    if (program.empty()) throw OfficeError{"the office program soffice is not installed"};
    if (profile_.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/vmoffice-XXXXXX";
        if (!mkdtemp(tmpl.data())) throw OfficeError{"cannot make a profile folder for the office program"};
        profile_ = tmpl;
        fs::create_directories(profile_ + "/user");
        std::ofstream(profile_ + "/user/registrymodifications.xcu") << kProfileSettings;
        SeedBuildId(program, profile_);
        static std::atomic<int> counter{0};
        pipe_ = "vmoffice_" + std::to_string(::getpid()) + "_" + std::to_string(++counter) + "_" +
                fs::path(profile_).filename().string().substr(9);
    }
    const std::vector<std::string> args = {program,       "--headless",   "--invisible", "--nologo",
                                           "--nodefault", "--norestore",  "--nolockcheck",
                                           "--nofirststartwizard",
                                           "-env:UserInstallation=file://" + profile_,
                                           "--accept=pipe,name=" + pipe_ + ";urp;StarOffice.ComponentContext"};
    platform::StartOptions options;
    options.stdinPath = options.stdoutPath = options.stderrPath = "/dev/null";
    // A group of its own, so that a hung office is ended with whatever it
    // started; and tied to this thread, so that it never outlives us.
    options.ownProcessGroup = true;
    options.endWithCaller = true;
    std::string error;
    if (!process_.Start(args, options, &error)) throw OfficeError{"cannot start " + program + ": " + error};
    group_ = process_.Pid();
    killed_ = false;
}

bool OfficeSession::Connect() {
    Reference<css::uno::XComponentContext> local = LocalContext();
    Reference<css::bridge::XUnoUrlResolver> resolver(
        local->getServiceManager()->createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local),
        UNO_QUERY_THROW);
    const rtl::OUString url = Ou("uno:pipe,name=" + pipe_ + ";urp;StarOffice.ComponentContext");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    Reference<css::uno::XInterface> found;
    while (!found.is()) {
        try {
            found = resolver->resolve(url);
        } catch (const css::connection::NoConnectException&) {
            if (Broken()) {
                const int status = process_.ExitStatus();
                for (int restart : kRestartStatus)
                    if (status == restart) return false;
                throw OfficeError{"the office program ended while starting"};
            }
            if (std::chrono::steady_clock::now() > until) throw OfficeError{"the office program does not answer"};
            usleep(50 * 1000);
        }
    }
    remote_.set(found, UNO_QUERY_THROW);
    Guard guard(*this);
    desktop_.set(remote_->getServiceManager()->createInstanceWithContext("com.sun.star.frame.Desktop", remote_),
                 UNO_QUERY_THROW);
    return true;
}

bool OfficeSession::Broken() {
    std::lock_guard<std::mutex> lock(processMutex_);
    if (killed_ || group_ <= 0) return true;
    if (process_.Running()) return false;
    // Ended (and reaped): whatever it started goes with it.
    killed_ = true;
    ::kill(-group_, SIGKILL);
    return true;
}

void OfficeSession::Kill() {
    std::lock_guard<std::mutex> lock(processMutex_);
    if (group_ > 0) ::kill(-group_, SIGKILL);
    killed_ = true;
}

void OfficeSession::End() {
    if (group_ > 0 && !Broken() && desktop_.is()) {
        try {
            Guard guard(*this);
            desktop_->terminate();
        } catch (...) {
            // A process on its way out drops the bridge: nothing to do.
        }
    }
    desktop_.clear();
    remote_.clear();
    if (group_ > 0) {
        process_.Wait(10000);
        // Whatever of the group is left (a hung office, a helper it started).
        ::kill(-group_, SIGKILL);
        process_.Wait();
        OfficeLog("office ended " + std::to_string(group_));
        group_ = -1;
    }
    if (!profile_.empty()) {
        std::error_code ec;
        fs::remove_all(profile_, ec);
    }
}

OfficeSession::~OfficeSession() {
    End();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
}

void OfficeSession::Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        // A killed office has nothing more to wait for: its calls fail.
        if (deadlines_.empty() || killed_) {
            wake_.wait(lock);
            continue;
        }
        const auto first = *deadlines_.begin();
        if (wake_.wait_until(lock, first) == std::cv_status::timeout && !deadlines_.empty() &&
            std::chrono::steady_clock::now() >= *deadlines_.begin())
            Kill();
    }
}

OfficeSession::Guard::Guard(OfficeSession& s) : s_(s) {
    {
        std::lock_guard<std::mutex> lock(s_.mutex_);
        deadline_ = s_.deadlines_.insert(std::chrono::steady_clock::now() + CallBound());
    }
    s_.wake_.notify_all();
}

OfficeSession::Guard::~Guard() {
    {
        std::lock_guard<std::mutex> lock(s_.mutex_);
        s_.deadlines_.erase(deadline_);
    }
    s_.wake_.notify_all();
}

}  // namespace vmoffice
