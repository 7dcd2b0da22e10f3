#include "addon/core/type_library.h"

#include <sstream>

#include "addon/core/addon_object.h"
#include "tessaline/itessaline.h"

namespace tessaline {
namespace {

void Interface(std::ostringstream& out, const char* name, const com::IID& iid, const char* help,
               std::span<const com::members::Member> members) {
    out << "\n[\n  uuid(" << com::GuidToString(iid) << "),\n  helpstring(\"" << help
        << "\"),\n  dual,\n  nonextensible,\n  oleautomation\n]\ninterface " << name << " : IDispatch\n{\n";
    for (const auto& m : members) {
        const char* kind = m.kind == com::members::Kind::Get ? ", propget" : m.kind == com::members::Kind::Put ? ", propput" : "";
        out << "  [id(" << m.id << ")" << kind << "] HRESULT " << m.name << "(" << m.signature << ");\n";
    }
    out << "};\n";
}

void Class(std::ostringstream& out, const char* name, const com::CLSID& clsid, const char* help, const char* itf) {
    out << "\n[\n  uuid(" << com::GuidToString(clsid) << "),\n  helpstring(\"" << help << "\")\n]\ncoclass "
        << name << "\n{\n  [default] interface " << itf << ";\n  interface IObjectWithSite;\n};\n";
}

}  // namespace

std::string TypeLibraryText() {
    std::ostringstream out;
    out << "[\n  uuid(" << com::GuidToString(LIBID_TessalineAddOn) << "),\n  version(1.0),\n  lcid(0),\n  helpstring(\""
        << kTypeLibHelpString << "\")\n]\nlibrary TessalineAddOn\n{\n  importlib(\"stdole2.tlb\");\n";
    Interface(out, "ITessaline2", IID_ITessaline2, "ITessaline2 Interface", Tessaline2Members());
    Interface(out, "ITessaline", IID_ITessaline, "ITessaline Interface", TessalineMembers());
    Class(out, "Tessaline", CLSID_Tessaline, "Tessaline Class", "ITessaline");
    Class(out, "Tessaline2", CLSID_Tessaline2, "Tessaline2 Class", "ITessaline2");
    out << "};\n";
    return out.str();
}

}  // namespace tessaline
