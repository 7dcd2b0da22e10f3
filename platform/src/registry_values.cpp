// One value of KEY\path, with the key opened and closed around the call.
#include "platform/registry.h"

#include <cstring>

namespace platform {

namespace {

LSTATUS ReadRaw(HKEY root, std::string_view path, std::string_view name, DWORD* type, std::vector<BYTE>* out) {
    RegKeyHolder key;
    std::string p(path), n(name);
    if (LSTATUS e = RegOpenKeyEx(root, p.c_str(), 0, KEY_QUERY_VALUE, key.Out())) return e;
    // The value may grow between the size query and the read: ask again then.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        if (LSTATUS e = RegQueryValueEx(key.Get(), n.c_str(), nullptr, type, nullptr, &size)) return e;
        out->resize(size);
        LSTATUS e = RegQueryValueEx(key.Get(), n.c_str(), nullptr, type, out->data(), &size);
        if (e == ERROR_MORE_DATA) continue;
        if (e) return e;
        out->resize(size);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LSTATUS WriteRaw(HKEY root, std::string_view path, std::string_view name, DWORD type, const void* data,
                 std::size_t size) {
    if (size > 0x7FFFFFF0u) return ERROR_INVALID_PARAMETER;
    RegKeyHolder key;
    std::string p(path), n(name);
    if (LSTATUS e = RegCreateKeyEx(root, p.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Out(), nullptr))
        return e;
    return RegSetValueEx(key.Get(), n.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
}

}  // namespace

LSTATUS RegGetString(HKEY root, std::string_view path, std::string_view name, std::string* out) {
    DWORD type = 0;
    std::vector<BYTE> raw;
    if (LSTATUS e = ReadRaw(root, path, name, &type, &raw)) return e;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_UNSUPPORTED_TYPE;
    std::size_t n = 0;
    while (n < raw.size() && raw[n]) ++n;  // up to the first zero
    out->assign(reinterpret_cast<const char*>(raw.data()), n);
    return ERROR_SUCCESS;
}

LSTATUS RegGetDword(HKEY root, std::string_view path, std::string_view name, DWORD* out) {
    DWORD type = 0;
    std::vector<BYTE> raw;
    if (LSTATUS e = ReadRaw(root, path, name, &type, &raw)) return e;
    if (type != REG_DWORD || raw.size() != sizeof(DWORD)) return ERROR_UNSUPPORTED_TYPE;
    std::memcpy(out, raw.data(), sizeof(DWORD));
    return ERROR_SUCCESS;
}

LSTATUS RegGetBinary(HKEY root, std::string_view path, std::string_view name, std::vector<BYTE>* out) {
    DWORD type = 0;
    return ReadRaw(root, path, name, &type, out);
}

LSTATUS RegSetString(HKEY root, std::string_view path, std::string_view name, std::string_view value) {
    std::string z(value);
    return WriteRaw(root, path, name, REG_SZ, z.c_str(), z.size() + 1);
}

LSTATUS RegSetDword(HKEY root, std::string_view path, std::string_view name, DWORD value) {
    return WriteRaw(root, path, name, REG_DWORD, &value, sizeof value);
}

LSTATUS RegSetBinary(HKEY root, std::string_view path, std::string_view name, const void* data, std::size_t size) {
    return WriteRaw(root, path, name, REG_BINARY, size ? data : "", size);
}

LSTATUS RegRemoveValue(HKEY root, std::string_view path, std::string_view name) {
    RegKeyHolder key;
    std::string p(path), n(name);
    if (LSTATUS e = RegOpenKeyEx(root, p.c_str(), 0, KEY_SET_VALUE, key.Out())) return e;
    return RegDeleteValue(key.Get(), n.c_str());
}

RegValueChange RegValueChange::String(std::string_view name, std::string_view value) {
    RegValueChange c{std::string(name), REG_SZ, std::vector<BYTE>(value.begin(), value.end()), false};
    c.data.push_back(0);
    return c;
}

RegValueChange RegValueChange::Dword(std::string_view name, DWORD value) {
    RegValueChange c{std::string(name), REG_DWORD, std::vector<BYTE>(sizeof value), false};
    std::memcpy(c.data.data(), &value, sizeof value);
    return c;
}

RegValueChange RegValueChange::Removed(std::string_view name) { return {std::string(name), REG_NONE, {}, true}; }

}  // namespace platform
