#include "office_session.h"

#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/process.h"

extern char** environ;

namespace vmoffice {

using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;
namespace fs = std::filesystem;

namespace {

std::mutex g_sessionMutex;
std::weak_ptr<OfficeSession> g_session;

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

// The office program: $VELLUMATE_SOFFICE, or soffice on the PATH.
std::string OfficeProgram() {
    const char* p = getenv("VELLUMATE_SOFFICE");
    if (p && *p) return platform::FindProgram(p);
    return platform::FindProgram("soffice");
}

// The profile: the spreadsheet prints every sheet rather than only the
// active one (print options cannot ask for it), and no lock file is left
// beside the user's document (nothing is written outside the temporary folder).
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
    "</oor:items>\n";

}  // namespace

std::chrono::seconds CallBound() {
    const char* v = getenv("VELLUMATE_OFFICE_TIMEOUT");
    long s = v && *v ? strtol(v, nullptr, 10) : 0;
    return std::chrono::seconds(s > 0 ? s : 300);
}

std::shared_ptr<OfficeSession> OfficeSession::Acquire() {
    std::lock_guard<std::mutex> lock(g_sessionMutex);
    std::shared_ptr<OfficeSession> s = g_session.lock();
    if (s && !s->Broken()) return s;
    s.reset(new OfficeSession);
    s->watchdog_ = std::thread([p = s.get()] { p->Watch(); });
    try {
        s->Start();
        s->Connect();
    } catch (...) {
        s.reset();  // ends what was started
        throw;
    }
    g_session = s;
    return s;
}

void OfficeSession::Start() {
    const std::string program = OfficeProgram();
    if (program.empty()) throw OfficeError{"the office program soffice is not installed"};
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/vmoffice-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw OfficeError{"cannot make a profile folder for the office program"};
    profile_ = tmpl;
    fs::create_directories(profile_ + "/user");
    std::ofstream(profile_ + "/user/registrymodifications.xcu") << kProfileSettings;
    static std::atomic<int> counter{0};
    pipe_ = "vmoffice_" + std::to_string(::getpid()) + "_" + std::to_string(++counter) + "_" +
            fs::path(profile_).filename().string().substr(9);

    std::vector<std::string> args = {program,        "--headless",    "--invisible", "--nologo",
                                     "--nodefault",  "--norestore",   "--nolockcheck",
                                     "--nofirststartwizard",
                                     "-env:UserInstallation=file://" + profile_,
                                     "--accept=pipe,name=" + pipe_ + ";urp;StarOffice.ComponentContext"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A group of its own: the launcher starts the real program as its child,
    // and a hung office is ended by killing the whole group.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &files, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) throw OfficeError{"cannot start " + program};
    group_ = pid;
}

void OfficeSession::Connect() {
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
            if (Broken()) throw OfficeError{"the office program ended while starting"};
            if (std::chrono::steady_clock::now() > until) throw OfficeError{"the office program does not answer"};
            usleep(50 * 1000);
        }
    }
    remote_.set(found, UNO_QUERY_THROW);
    Guard guard(*this);
    desktop_.set(remote_->getServiceManager()->createInstanceWithContext("com.sun.star.frame.Desktop", remote_),
                 UNO_QUERY_THROW);
}

bool OfficeSession::Broken() const {
    if (killed_ || group_ <= 0) return true;
    // The launcher is our child until it is reaped here; it ends with the office.
    int status = 0;
    pid_t r = ::waitpid(group_, &status, WNOHANG);
    if (r == group_ || (r < 0 && errno == ECHILD)) {
        const_cast<OfficeSession*>(this)->killed_ = true;
        ::kill(-group_, SIGKILL);
        return true;
    }
    return false;
}

void OfficeSession::Kill() {
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
        int status = 0;
        bool ended = false;
        for (int i = 0; i < 200 && !ended; ++i) {
            pid_t r = ::waitpid(group_, &status, WNOHANG);
            ended = r == group_ || (r < 0 && errno == ECHILD);
            if (!ended) usleep(50 * 1000);
        }
        // Whatever of the group is left (a hung office, a helper it started).
        ::kill(-group_, SIGKILL);
        if (!ended) ::waitpid(group_, &status, 0);
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
        if (deadline_ == std::chrono::steady_clock::time_point::max()) {
            wake_.wait(lock);
        } else if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout &&
                   std::chrono::steady_clock::now() >= deadline_) {
            deadline_ = std::chrono::steady_clock::time_point::max();
            Kill();
        }
    }
}

OfficeSession::Guard::Guard(OfficeSession& s) : s_(s) {
    {
        std::lock_guard<std::mutex> lock(s_.mutex_);
        s_.deadline_ = std::chrono::steady_clock::now() + CallBound();
    }
    s_.wake_.notify_all();
}

OfficeSession::Guard::~Guard() {
    {
        std::lock_guard<std::mutex> lock(s_.mutex_);
        s_.deadline_ = std::chrono::steady_clock::time_point::max();
    }
    s_.wake_.notify_all();
}

}  // namespace vmoffice
