// The exports of libvmoffice.so: the three application classes and their
// registration under "Word.Application", "Excel.Application" and
// "PowerPoint.Application"; the end of a run, which ends its office.
#include "automation.h"
#include "lookahead.h"
#include "office_session.h"
#include "platform/com_registrar.h"
#include "platform/com_server.h"

namespace {

com::RegTree Classes() {
    struct Entry {
        com::CLSID clsid;
        const char* description;
        const char* progId;
    };
    const Entry entries[] = {
        {vmoffice::CLSID_WordApplication, "Text documents through the office program", "Word.Application"},
        {vmoffice::CLSID_ExcelApplication, "Spreadsheets through the office program", "Excel.Application"},
        {vmoffice::CLSID_PowerPointApplication, "Presentations through the office program",
         "PowerPoint.Application"},
    };
    com::RegTree classes;
    const std::string library = com::server::ModulePath(reinterpret_cast<const void*>(&Classes));
    for (const Entry& e : entries) {
        com::ClassRegistration c;
        c.clsid = e.clsid;
        c.description = e.description;
        c.libraryPath = library;
        c.progId = std::string(e.progId) + ".1";
        c.versionIndependentProgId = e.progId;
        com::AddClass(classes, c);
    }
    return classes;
}

}  // namespace

VM_COM_EXPORT com::HRESULT DllGetClassObject(com::REFCLSID clsid, com::REFIID riid, void** ppv) {
    return vmoffice::GetApplicationClass(clsid, riid, ppv);
}

// The office kept for the run holds the library, as a live object would.
VM_COM_EXPORT com::HRESULT DllCanUnloadNow() {
    return vmoffice::OfficeSession::Kept() ? com::S_FALSE : com::server::CanUnloadNow();
}

// The run is over: a document loaded ahead is closed, and the office ends (at
// once, or with the last application object that still holds it).
VM_COM_EXPORT void DllShutdown() {
    vmoffice::lookahead::Drop();
    vmoffice::OfficeSession::EndRun();
}

VM_COM_EXPORT com::HRESULT DllRegisterServer() {
    return com::server::Trap([] { return com::RegisterTree(platform::HKEY_CLASSES_ROOT, Classes()); });
}

VM_COM_EXPORT com::HRESULT DllUnregisterServer() {
    return com::server::Trap([] { return com::UnregisterTree(platform::HKEY_CLASSES_ROOT, Classes()); });
}
