// Writing and removing the key trees of server registration.
#include "platform/com_registrar.h"

#include "platform/text.h"

namespace com {

using namespace platform;

RegTree& RegTree::Key(const std::string& name, RegKeyMode mode) {
    for (auto& k : keys_)
        if (EqualsNoCase(k.name_, name)) return k;
    keys_.emplace_back(name, mode);
    return keys_.back();
}

namespace {

LSTATUS WriteValue(HKEY key, const char* name, const RegData& data) {
    if (auto* s = std::get_if<std::string>(&data))
        return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(s->c_str()),
                             static_cast<DWORD>(s->size() + 1));
    DWORD d = std::get<std::uint32_t>(data);
    return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), sizeof d);
}

LSTATUS Register(HKEY parent, const RegTree& tree) {
    for (const RegTree& sub : tree.Keys()) {
        if (sub.Mode() == RegKeyMode::Delete || sub.Mode() == RegKeyMode::ForceRemove) {
            LSTATUS e = RegDeleteTree(parent, sub.Name().c_str());
            if (e && e != ERROR_FILE_NOT_FOUND) return e;
            if (sub.Mode() == RegKeyMode::Delete) continue;
        }
        RegKeyHolder key;
        if (LSTATUS e = RegCreateKeyEx(parent, sub.Name().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(),
                                       nullptr))
            return e;
        if (sub.DefaultValue())
            if (LSTATUS e = WriteValue(key.Get(), "", *sub.DefaultValue())) return e;
        for (const auto& [name, data] : sub.Values())
            if (LSTATUS e = WriteValue(key.Get(), name.c_str(), data)) return e;
        if (LSTATUS e = Register(key.Get(), sub)) return e;
    }
    return ERROR_SUCCESS;
}

bool IsEmpty(HKEY key) {
    DWORD subKeys = 1, values = 1;
    return RegQueryInfoKey(key, &subKeys, nullptr, &values, nullptr, nullptr) == 0 && subKeys == 0 && values == 0;
}

LSTATUS Unregister(HKEY parent, const RegTree& tree) {
    LSTATUS result = ERROR_SUCCESS;
    for (const RegTree& sub : tree.Keys()) {
        if (sub.Mode() == RegKeyMode::Delete) continue;
        if (sub.Mode() == RegKeyMode::ForceRemove) {
            LSTATUS e = RegDeleteTree(parent, sub.Name().c_str());
            if (e && e != ERROR_FILE_NOT_FOUND) result = e;
            continue;
        }
        bool empty = false;
        {
            RegKeyHolder key;
            LSTATUS e = RegOpenKeyEx(parent, sub.Name().c_str(), 0, KEY_ALL_ACCESS, key.Out());
            if (e == ERROR_FILE_NOT_FOUND) continue;  // already gone
            if (e) {
                result = e;
                continue;
            }
            if (LSTATUS u = Unregister(key.Get(), sub)) result = u;
            if (sub.Mode() == RegKeyMode::NoRemove) continue;
            if (sub.DefaultValue()) RegDeleteValue(key.Get(), "");
            for (const auto& v : sub.Values()) RegDeleteValue(key.Get(), v.first.c_str());
            empty = IsEmpty(key.Get());
        }
        if (empty) {
            LSTATUS d = RegDeleteKey(parent, sub.Name().c_str());
            if (d && d != ERROR_FILE_NOT_FOUND) result = d;
        }
    }
    return result;
}

}  // namespace

HRESULT RegisterTree(HKEY root, const RegTree& tree) {
    return Register(root, tree) == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

HRESULT UnregisterTree(HKEY root, const RegTree& tree) {
    return Unregister(root, tree) == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

void AddClass(RegTree& classesRoot, const ClassRegistration& c) {
    std::string clsid = GuidToString(c.clsid);
    RegTree& key = classesRoot.Key("CLSID", RegKeyMode::NoRemove).Key(clsid, RegKeyMode::ForceRemove);
    key.Default(c.description);
    key.Key("InprocServer32").Default(c.libraryPath).Value("ThreadingModel", c.threadingModel);
    if (!c.progId.empty()) key.Key("ProgID").Default(c.progId);
    if (!c.versionIndependentProgId.empty()) key.Key("VersionIndependentProgID").Default(c.versionIndependentProgId);
    if (!c.typeLibId.empty()) key.Key("TypeLib").Default(c.typeLibId);
    if (!c.progId.empty()) {
        RegTree& p = classesRoot.Key(c.progId);
        p.Default(c.description);
        p.Key("CLSID").Default(clsid);
    }
    if (!c.versionIndependentProgId.empty()) {
        RegTree& p = classesRoot.Key(c.versionIndependentProgId);
        p.Default(c.description);
        p.Key("CLSID").Default(clsid);
        if (!c.progId.empty()) p.Key("CurVer").Default(c.progId);
    }
}

}  // namespace com
