#include "system.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fcntl.h>
#include <unistd.h>

#include "platform/registry.h"

namespace vellumate::sys {
namespace fs = std::filesystem;

// ---- Registry ---------------------------------------------------------------------

namespace {

platform::REGSAM SamOf(RegAccess access) {
    return access == RegAccess::Query ? platform::KEY_QUERY_VALUE : platform::KEY_SET_VALUE;
}

long OpenLM(std::string_view path, RegAccess access, platform::RegKeyHolder* key) {
    std::string p(path);
    return platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, p.c_str(), 0, nullptr,
                                    platform::REG_OPTION_NON_VOLATILE, SamOf(access), nullptr, key->Out(), nullptr);
}

}  // namespace

long RegCreateKeyLM(std::string_view path, RegAccess access) {
    platform::RegKeyHolder key;
    return OpenLM(path, access, &key);
}

long RegQueryDwordLM(std::string_view path, std::string_view name, std::uint32_t* value) {
    platform::RegKeyHolder key;
    if (long rc = OpenLM(path, RegAccess::Query, &key)) return rc;
    std::string n(name);
    platform::DWORD type = 0, size = sizeof(std::uint32_t);
    std::uint32_t v = 0;
    long rc = platform::RegQueryValueEx(key.Get(), n.c_str(), nullptr, &type, reinterpret_cast<platform::BYTE*>(&v),
                                        &size);
    if (rc != 0) return rc;
    if (type != platform::REG_DWORD || size != sizeof v) return platform::ERROR_UNSUPPORTED_TYPE;
    *value = v;
    return 0;
}

long RegSetDwordLM(std::string_view path, std::string_view name, std::uint32_t value) {
    platform::RegKeyHolder key;
    if (long rc = OpenLM(path, RegAccess::SetValue, &key)) return rc;
    std::string n(name);
    return platform::RegSetValueEx(key.Get(), n.c_str(), 0, platform::REG_DWORD,
                                   reinterpret_cast<const platform::BYTE*>(&value), sizeof value);
}

long RegQueryStringLM(std::string_view path, std::string_view name, std::string* value, std::size_t bufferChars) {
    platform::RegKeyHolder key;
    if (long rc = OpenLM(path, RegAccess::Query, &key)) return rc;
    std::string n(name);
    std::string buf(bufferChars, '\0');
    platform::DWORD type = 0, size = static_cast<platform::DWORD>(bufferChars);
    long rc = platform::RegQueryValueEx(key.Get(), n.c_str(), nullptr, &type,
                                        reinterpret_cast<platform::BYTE*>(buf.data()), &size);
    if (rc != 0) return rc;
    if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) return platform::ERROR_UNSUPPORTED_TYPE;
    buf.resize(std::min<std::size_t>(size, bufferChars));
    if (size_t zero = buf.find('\0'); zero != std::string::npos) buf.erase(zero);
    *value = buf;
    return 0;
}

long RegSetStringLM(std::string_view path, std::string_view name, std::string_view value) {
    platform::RegKeyHolder key;
    if (long rc = OpenLM(path, RegAccess::SetValue, &key)) return rc;
    std::string n(name);
    // Written with the length of the text without its terminating zero.
    return platform::RegSetValueEx(key.Get(), n.c_str(), 0, platform::REG_SZ,
                                   reinterpret_cast<const platform::BYTE*>(value.data()),
                                   static_cast<platform::DWORD>(value.size()));
}

// ---- Files --------------------------------------------------------------------------

bool CanOpenForReading(const std::string& path, bool allowFolder) {
    if (path.empty()) return false;
    std::error_code ec;
    if (fs::is_directory(path, ec)) return allowFolder && ::access(path.c_str(), R_OK) == 0;
    // Only regular files: a pipe or a device would block or never end.
    if (!fs::is_regular_file(path, ec)) return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(fs::symlink_status(path, ec));
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

bool DeleteFile(const std::string& path) {
    std::error_code ec;
    return fs::remove(path, ec);
}

bool DeleteTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    return !fs::exists(fs::symlink_status(path, ec));
}

bool CreateFolder(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec);
}

double NowAsDate() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    // Days since 30 December 1899 of the local calendar date, plus the time of day.
    std::tm epoch{};
    epoch.tm_year = -1;  // 1899
    epoch.tm_mon = 11;
    epoch.tm_mday = 30;
    std::tm day = tm;
    day.tm_hour = day.tm_min = day.tm_sec = 0;
    day.tm_isdst = 0;
    epoch.tm_isdst = 0;
    double days = std::difftime(::timegm(&day), ::timegm(&epoch)) / 86400.0;
    return days + (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
}

}  // namespace vellumate::sys
