// Registration of in-process servers: the key trees a server's
// DllRegisterServer writes and DllUnregisterServer removes.
//
//   com::RegTree classes;
//   auto& clsid = classes.Key("CLSID", com::RegKeyMode::NoRemove).Key(com::GuidToString(kClsid));
//   clsid.Default("Tessaline Class");
//   clsid.Key("InprocServer32").Default(path).Value("ThreadingModel", "Apartment");
//   com::RegisterTree(platform::HKEY_CLASSES_ROOT, classes);
//
// Registering creates every key and writes its values; a ForceRemove key is
// deleted whole first, a Delete key is only deleted. Unregistering keeps
// NoRemove keys (it still walks into them), deletes ForceRemove keys whole,
// and deletes a normal key's listed values and then the key itself when
// nothing else is left in it, so keys other programs share survive.
#pragma once

#include "platform/com.h"
#include "platform/registry.h"

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace com {

enum class RegKeyMode { Normal, NoRemove, ForceRemove, Delete };

using RegData = std::variant<std::string, std::uint32_t>;

class RegTree {
public:
    RegTree() = default;
    RegTree(std::string name, RegKeyMode mode) : name_(std::move(name)), mode_(mode) {}

    // Adds (or finds) a subkey; the reference stays valid while the tree lives.
    RegTree& Key(const std::string& name, RegKeyMode mode = RegKeyMode::Normal);
    RegTree& Default(RegData value) {
        default_ = std::move(value);
        return *this;
    }
    RegTree& Value(std::string name, RegData value) {
        values_.emplace_back(std::move(name), std::move(value));
        return *this;
    }

    const std::string& Name() const { return name_; }
    RegKeyMode Mode() const { return mode_; }
    const std::optional<RegData>& DefaultValue() const { return default_; }
    const std::vector<std::pair<std::string, RegData>>& Values() const { return values_; }
    const std::list<RegTree>& Keys() const { return keys_; }

private:
    std::string name_;
    RegKeyMode mode_ = RegKeyMode::NoRemove;  // the root stands for the hive itself
    std::optional<RegData> default_;
    std::vector<std::pair<std::string, RegData>> values_;
    std::list<RegTree> keys_;
};

// The subkeys of `tree` below `root` (the tree's own name and values are
// those of `root` itself). SELFREG_E_CLASS when a write fails.
HRESULT RegisterTree(platform::HKEY root, const RegTree& tree);
HRESULT UnregisterTree(platform::HKEY root, const RegTree& tree);

// The usual keys of one class: CLSID\{clsid} (ForceRemove) with its name, InprocServer32
// (library path, ThreadingModel), ProgID and VersionIndependentProgID, and the
// ProgIDs with their CLSID and CurVer. Empty ProgIDs are left out.
struct ClassRegistration {
    CLSID clsid;
    std::string description;
    std::string libraryPath;
    std::string progId;                   // "Server.Class.1"
    std::string versionIndependentProgId;  // "Server.Class"
    std::string threadingModel = "Apartment";
    std::string typeLibId;                 // "{...}" or empty
};
void AddClass(RegTree& classesRoot, const ClassRegistration& c);

}  // namespace com
