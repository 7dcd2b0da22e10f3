// The clipboard store: "<format>.data" files, written by rename, and a lock
// file whose exclusive flock is the open clipboard.
#include "platform/clipboard.h"

#include "platform/runtime_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

std::string DataPath(const std::string& folder, UINT format) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "/%04x.data", format);
    return folder + buf;
}

}  // namespace

UINT RegisterClipboardFormat(std::string_view name) { return RegisterWindowMessage(name); }

struct Clipboard::Members {
    std::string folder;
    int lockFd = -1;
};

Clipboard::Clipboard(std::unique_ptr<Members> m) : m_(std::move(m)) {}

std::unique_ptr<Clipboard> Clipboard::Open() {
    auto m = std::make_unique<Members>();
    m->folder = RuntimeSubfolder("clipboard");
    if (m->folder.empty()) return nullptr;
    m->lockFd = open((m->folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m->lockFd < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    if (flock(m->lockFd, LOCK_EX | LOCK_NB) != 0) {
        close(m->lockFd);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return std::make_unique<Clipboard>(std::move(m));
}

Clipboard::~Clipboard() { close(m_->lockFd); }

bool Clipboard::Empty() {
    DIR* d = opendir(m_->folder.c_str());
    if (!d) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    bool ok = true;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.ends_with(".data") && unlink((m_->folder + "/" + name).c_str()) != 0 && errno != ENOENT) ok = false;
    }
    closedir(d);
    if (!ok) SetLastErrorFromErrno(errno);
    return ok;
}

bool Clipboard::SetData(UINT format, std::string_view bytes) {
    if (format == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string path = DataPath(m_->folder, format);
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            SetLastError(ERROR_DISK_FULL);
            unlink(tmp.c_str());
            return false;
        }
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        SetLastErrorFromErrno(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

std::optional<std::string> Clipboard::GetData(UINT format) const {
    std::ifstream in(DataPath(m_->folder, format), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Clipboard::IsFormatAvailable(UINT format) const { return access(DataPath(m_->folder, format).c_str(), F_OK) == 0; }

}  // namespace platform
