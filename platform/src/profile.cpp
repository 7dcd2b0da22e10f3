// Profile files on disk: lock-free reads of whole files, and writes as
// locked read-modify-write cycles that end in an atomic rename.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

namespace platform {

namespace {

constexpr std::size_t kMaxFileSize = 64u << 20;  // larger files are not profiles

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

bool ReadAll(int fd, std::string* out) {
    out->clear();
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out->append(buf, static_cast<std::size_t>(n));
        if (out->size() > kMaxFileSize) return false;
    }
}

// The file's text, or nullopt when it cannot be read (missing, a folder, too big).
std::optional<std::string> ReadFile(const char* file) {
    if (!file || !*file) return std::nullopt;
    Fd fd(open(file, O_RDONLY | O_CLOEXEC));
    struct stat sb;
    if (fd.get() < 0 || fstat(fd.get(), &sb) != 0 || !S_ISREG(sb.st_mode)) return std::nullopt;
    std::string text;
    if (!ReadAll(fd.get(), &text)) return std::nullopt;
    return text;
}

bool WriteAll(int fd, const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writers lock the file's folder, not the file: the file is replaced by
// every write, so a lock on it would be on a file that is gone by the time a
// waiting writer gets it. The folder stays, and no lock file is left behind.
// `edit` answers false when nothing changed (no rewrite then).
bool Modify(const char* file, const std::function<bool(ProfileText&)>& edit) {
    if (!file || !*file) return false;
    std::string path(file);
    std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return false;
    while (flock(dir.get(), LOCK_EX) != 0)
        if (errno != EINTR) return false;
    std::string text;
    struct stat sb;
    mode_t mode = 0644;
    if (stat(file, &sb) == 0) {
        if (!S_ISREG(sb.st_mode)) return false;
        mode = sb.st_mode & 07777;
        Fd in(open(file, O_RDONLY | O_CLOEXEC));
        if (in.get() < 0 || !ReadAll(in.get(), &text)) return false;
    } else if (errno != ENOENT) {
        return false;
    }
    ProfileText profile(text);
    if (!edit(profile)) return true;
    std::string tmp = path + ".XXXXXX";
    Fd out(mkostemp(tmp.data(), O_CLOEXEC));
    if (out.get() < 0) return false;
    fchmod(out.get(), mode);
    // No fsync: readers in other processes see the renamed file whole either
    // way, and a sync per key would make a ticket of many pages slow to write.
    bool ok = WriteAll(out.get(), profile.Text()) && rename(tmp.c_str(), file) == 0;
    if (!ok) unlink(tmp.c_str());
    return ok;  // the lock ends with the folder's descriptor
}

std::uint32_t CopyOut(const std::string& s, char* buf, std::uint32_t size) {
    if (!buf || size == 0) return 0;
    std::size_t n = std::min<std::size_t>(s.size(), size - 1);
    std::memcpy(buf, s.data(), n);
    buf[n] = 0;
    return static_cast<std::uint32_t>(n);
}

// A list of names, each ended by a zero and the whole by another.
std::uint32_t CopyList(const std::vector<std::string>& names, char* buf, std::uint32_t size) {
    if (!buf || size == 0) return 0;
    if (size == 1) {
        buf[0] = 0;
        return 0;
    }
    std::size_t at = 0;
    for (const auto& n : names) {
        if (at + n.size() + 2 > size) {
            // Cut: as much as fits, then the two zeros; answers size - 2.
            std::size_t room = at + 2 <= size ? size - 2 - at : 0;
            std::memcpy(buf + at, n.data(), std::min(room, n.size()));
            buf[size - 2] = 0;
            buf[size - 1] = 0;
            return size - 2;
        }
        std::memcpy(buf + at, n.data(), n.size());
        at += n.size();
        buf[at++] = 0;
    }
    buf[at] = 0;
    return static_cast<std::uint32_t>(at);
}

}  // namespace

std::uint32_t GetPrivateProfileString(const char* section, const char* key, const char* def, char* buf,
                                      std::uint32_t size, const char* file) {
    std::optional<std::string> text = ReadFile(file);
    ProfileText profile(text ? *text : std::string());
    if (!section) return CopyList(profile.Sections(), buf, size);
    if (!key) return CopyList(profile.Keys(section), buf, size);
    std::string value;
    if (!profile.Get(section, key, &value)) {
        value = def ? def : "";
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    }
    return CopyOut(value, buf, size);
}

int GetPrivateProfileInt(const char* section, const char* key, int def, const char* file) {
    if (!section || !key) return def;
    std::optional<std::string> text = ReadFile(file);
    if (!text) return def;
    std::string value;
    if (!ProfileText(*text).Get(section, key, &value) || value.empty()) return def;
    const char* p = value.c_str();
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    long long n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        n = n * 10 + (*p - '0');
        if (n > 0xFFFFFFFFLL) n = 0xFFFFFFFFLL;  // the 32 bits wrap as an unsigned value would
    }
    auto u = static_cast<std::uint32_t>(negative ? -n : n);
    return static_cast<int>(u);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value, const char* file) {
    if (!section && !key && !value) return true;  // flush: every write already reached the file
    if (!section || !file) return false;
    if (!key) return Modify(file, [&](ProfileText& p) { return p.DeleteSection(section); });
    if (!value) return Modify(file, [&](ProfileText& p) { return p.DeleteKey(section, key); });
    // A line break in a key or value would make lines of its own.
    if (std::strpbrk(key, "\r\n") || std::strpbrk(value, "\r\n") || std::strpbrk(section, "\r\n]")) return false;
    return Modify(file, [&](ProfileText& p) {
        p.Set(section, key, value);
        return true;
    });
}

std::string ProfileGetString(const std::string& file, std::string_view section, std::string_view key,
                             std::string_view def) {
    std::optional<std::string> text = ReadFile(file.c_str());
    std::string value;
    if (text && ProfileText(*text).Get(section, key, &value)) return value;
    std::string d(def);
    while (!d.empty() && (d.back() == ' ' || d.back() == '\t')) d.pop_back();
    return d;
}

int ProfileGetInt(const std::string& file, std::string_view section, std::string_view key, int def) {
    std::string s(section), k(key);
    return GetPrivateProfileInt(s.c_str(), k.c_str(), def, file.c_str());
}

bool ProfileSetString(const std::string& file, std::string_view section, std::string_view key, std::string_view value) {
    std::string s(section), k(key), v(value);
    if (s.find('\0') != std::string::npos || k.find('\0') != std::string::npos || v.find('\0') != std::string::npos)
        return false;
    return WritePrivateProfileString(s.c_str(), k.c_str(), v.c_str(), file.c_str());
}

bool ProfileDeleteKey(const std::string& file, std::string_view section, std::string_view key) {
    std::string s(section), k(key);
    return WritePrivateProfileString(s.c_str(), k.c_str(), nullptr, file.c_str());
}

bool ProfileDeleteSection(const std::string& file, std::string_view section) {
    std::string s(section);
    return WritePrivateProfileString(s.c_str(), nullptr, nullptr, file.c_str());
}

std::vector<std::string> ProfileSections(const std::string& file) {
    std::optional<std::string> text = ReadFile(file.c_str());
    return text ? ProfileText(*text).Sections() : std::vector<std::string>{};
}

std::vector<std::string> ProfileKeys(const std::string& file, std::string_view section) {
    std::optional<std::string> text = ReadFile(file.c_str());
    return text ? ProfileText(*text).Keys(section) : std::vector<std::string>{};
}

}  // namespace platform
