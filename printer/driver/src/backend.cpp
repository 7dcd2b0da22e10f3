// vellumate: the CUPS backend of the "Vellumate" queue.
//
//   vellumate                                   prints its device line
//   vellumate JOB USER TITLE COPIES OPTIONS [FILE]
//
// Runs as root (mode 0700), becomes the job's user at once after reading the
// job, writes every page as a metafile "~emf<job>-<page>.tmp" into that
// user's spool folder, starts `dispatcher` with the job's title in the
// user's environment, waits for it and removes the page files it has copied.
// A job it cannot print is cancelled (the queue goes on); root's jobs and
// those of unknown users are refused.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "job_document.h"
#include "pagedraw/pdf_pages.h"
#include "platform/process.h"
#include "platform/step_times.h"
#include "printer/shared/names.h"
#include "user_spool.h"

namespace {

// Exit statuses CUPS reads from a backend.
constexpr int kBackendOk = 0, kBackendFailed = 1, kBackendCancel = 5;
constexpr std::size_t kMaxJob = std::size_t(1) << 30;

// Set by SIGTERM (CUPS cancels the job): the page files go, then the backend.
volatile std::sig_atomic_t gCancelled = 0;
void OnTerm(int) { gCancelled = 1; }

int Refuse(const std::string& why) {
    std::fprintf(stderr, "ERROR: %s\n", why.c_str());
    return kBackendCancel;
}

bool ReadAll(int fd, std::string& out) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (out.size() + std::size_t(n) > kMaxJob) return false;
        out.append(buf, std::size_t(n));
    }
}

bool BecomeUser(const passwd& pw, std::string& error) {
    if (::geteuid() != 0) {
        if (::getuid() == pw.pw_uid) return true;
        error = "not running as root, so the job cannot be printed as " + std::string(pw.pw_name);
        return false;
    }
    if (::initgroups(pw.pw_name, pw.pw_gid) != 0 || ::setgid(pw.pw_gid) != 0 || ::setuid(pw.pw_uid) != 0) {
        error = "cannot switch to the user " + std::string(pw.pw_name) + ": " + std::strerror(errno);
        return false;
    }
    if (::setuid(0) == 0 || ::getuid() != pw.pw_uid || ::geteuid() != pw.pw_uid) {
        error = "root rights were not given up";
        return false;
    }
    return true;
}

// The user's own environment, plus the suite's settings and the print service the queue was given.
void UserEnvironment(const passwd& pw) {
    std::vector<std::pair<std::string, std::string>> keep;
    for (char** e = environ; e && *e; ++e) {
        std::string kv = *e;
        if (kv.rfind("VELLUMATE_", 0) == 0 || kv.rfind("LANG=", 0) == 0 || kv.rfind("CUPS_SERVER=", 0) == 0) {
            const std::size_t eq = kv.find('=');
            keep.push_back({kv.substr(0, eq), kv.substr(eq + 1)});
        }
    }
    ::clearenv();
    for (auto& [k, v] : keep) ::setenv(k.c_str(), v.c_str(), 1);
    ::setenv("HOME", pw.pw_dir, 1);
    ::setenv("USER", pw.pw_name, 1);
    ::setenv("LOGNAME", pw.pw_name, 1);
    ::setenv("SHELL", pw.pw_shell && *pw.pw_shell ? pw.pw_shell : "/bin/sh", 1);
    ::setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 1);
    const std::string session = driver::SessionFolderOf(pw.pw_uid);
    if (!session.empty()) ::setenv("XDG_RUNTIME_DIR", session.c_str(), 1);
}

// $VELLUMATE_BIN_DIR, else beside the backend (a build folder), else the
// installed programs' folder: PREFIX/lib/cups/backend/vellumate reaches
// PREFIX/lib/vellumate/dispatcher (through a link in CUPS's own folder too),
// else the build this backend came from.
std::string DispatcherPath() {
    if (const char* dir = std::getenv("VELLUMATE_BIN_DIR"); dir && *dir) return std::string(dir) + "/dispatcher";
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        for (const auto& candidate : {self.parent_path() / "dispatcher",
                                      self.parent_path().parent_path().parent_path() / "vellumate" / "dispatcher"})
            if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return std::string(VM_BIN_DIR) + "/dispatcher";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        std::puts("direct vellumate \"Vellumate\" \"Vellumate virtual printer\"");
        return kBackendOk;
    }
    if (argc < 6 || argc > 7) {
        std::fprintf(stderr, "Usage: vellumate job-id user title copies options [file]\n");
        return kBackendFailed;
    }
    struct sigaction term {};
    term.sa_handler = OnTerm;
    ::sigaction(SIGTERM, &term, nullptr);
    platform::MarkHop("started");
    const int job = std::atoi(argv[1]);
    if (job <= 0) return Refuse("bad job number \"" + std::string(argv[1]) + "\"");
    const std::string userName = argv[2], title = argv[3], options = argv[5];

    // The name is whatever the client claimed: only a known user other than root prints.
    errno = 0;
    const passwd* found = ::getpwnam(userName.c_str());
    if (!found) return Refuse("the user \"" + userName + "\" is unknown; the job is not printed");
    const passwd pw = *found;
    if (pw.pw_uid == 0) return Refuse("jobs of root are not printed to Vellumate");

    // Read what only root may read (the spooled job, the queue's PPD), then give up root.
    std::string data, ppd;
    const int fd = argc == 7 ? ::open(argv[6], O_RDONLY | O_CLOEXEC) : 0;
    if (fd < 0 || !ReadAll(fd, data)) return Refuse("cannot read the job's data");
    if (fd > 0) ::close(fd);
    if (const char* ppdPath = std::getenv("PPD")) {
        std::ifstream in(ppdPath);
        ppd.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string error;
    if (!BecomeUser(pw, error)) return Refuse(error);
    UserEnvironment(pw);

    // The dispatcher's own spool folder, now that this process is the user.
    std::string spool = vmshared::SpoolFolder(&error);
    if (spool.empty()) return Refuse(error);
    spool.pop_back();  // its closing slash
    driver::SpoolLock lock(spool);
    if (!lock.Held()) return Refuse("cannot lock " + spool);
    // Page files left by a job that was stopped half-way would be gathered
    // into this job's ticket: only this backend writes them, under the lock.
    {
        std::error_code ec;
        for (auto& e : std::filesystem::directory_iterator(spool, ec)) {
            const std::string n = e.path().filename().string();
            if (n.rfind("~emf", 0) == 0 && n.size() > 8 && n.compare(n.size() - 4, 4, ".tmp") == 0)
                std::filesystem::remove(e.path(), ec);
        }
    }

    // The job as a PDF: as it came, or typeset here.
    std::unique_ptr<pagedraw::PdfPages> pages;
    const driver::JobKind kind = driver::Sniff(data);
    if (kind == driver::JobKind::Pdf) {
        pages = pagedraw::PdfPages::OpenBytes(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), error);
    } else {
        const driver::Paper paper = driver::ChoosePaper(ppd, options);
        const std::string pdf = spool + "/~vmjob" + std::to_string(job) + ".pdf";
        const bool made = kind == driver::JobKind::Text ? driver::WriteTextPdf(data, paper, pdf, error)
                                                        : driver::WritePicturePdf(data, paper, pdf, error);
        if (made) pages = pagedraw::PdfPages::Open(pdf, error);
        std::error_code ec;
        std::filesystem::remove(pdf, ec);
    }
    if (!pages) return Refuse(error);
    platform::MarkHop("job opened");
    data.clear(), data.shrink_to_fit();

    std::vector<std::string> written;
    auto removeWritten = [&] {
        std::error_code ec;
        for (auto& f : written) std::filesystem::remove(f, ec);
    };
    for (int i = 0; i < pages->PageCount(); ++i) {
        if (gCancelled) {
            removeWritten();
            return Refuse("the job was cancelled");
        }
        std::vector<std::string> warnings;
        std::vector<std::uint8_t> emf = pages->ConvertPage(i, error, &warnings);
        for (auto& w : warnings) std::fprintf(stderr, "DEBUG: page %d: %s\n", i + 1, w.c_str());
        const std::string path = spool + "/" + driver::PageFileName(job, i + 1), part = path + ".part";
        bool ok = !emf.empty();
        if (ok) {
            std::ofstream out(part, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(emf.data()), std::streamsize(emf.size()));
            ok = bool(out.flush());
            out.close();
            ok = ok && std::rename(part.c_str(), path.c_str()) == 0;
            if (!ok) error = "cannot write " + path;
        }
        if (!ok) {
            std::error_code ec;
            std::filesystem::remove(part, ec);
            removeWritten();
            return Refuse(error);
        }
        written.push_back(path);
        platform::MarkHop("page " + std::to_string(i + 1) + " written");
        std::fprintf(stderr, "PAGE: %d 1\n", i + 1);
    }

    // The dispatcher takes its command line after its name as the document's
    // name, rebuilt from its arguments joined by blanks: the title's words as
    // they stand (quotes kept) give the title back.
    std::vector<std::string> args{DispatcherPath()};
    for (std::size_t at = 0; at < title.size();) {
        const std::size_t end = std::min(title.find(' ', at), title.size());
        if (end > at) args.push_back(title.substr(at, end - at));
        at = end + 1;
    }
    platform::ChildProcess dispatcher;
    if (!dispatcher.Start(args, {}, &error)) {
        removeWritten();
        return Refuse("cannot start the dispatcher: " + error);
    }
    platform::MarkHop("dispatcher started");
    // The dispatcher ends at once; one that hangs is ended after five minutes.
    for (int waited = 0; !dispatcher.Wait(200); waited += 200) {
        if (gCancelled || waited >= 300000) {
            dispatcher.Terminate(true);
            dispatcher.Wait();
            removeWritten();
            return Refuse(gCancelled ? "the job was cancelled" : "the dispatcher did not end");
        }
    }
    // The dispatcher has copied the pages into the job; left here they would
    // be gathered again into the user's next job.
    platform::MarkHop("dispatcher ended");
    removeWritten();
    std::fprintf(stderr, "INFO: %d pages handed to the dispatcher\n", pages->PageCount());
    return kBackendOk;
}
