// The exports of libcorvanth.so: class object, unloading and self-registration
// under ProgID "Corvanth3.PDFDocument3".
#include "pdf_document.h"
#include "platform/com_registrar.h"
#include "platform/com_server.h"

namespace {

constexpr char kVersionIndependentProgId[] = "Corvanth3.PDFDocument";

com::RegTree Classes() {
    com::RegTree classes;
    com::ClassRegistration c;
    c.clsid = corvanth::CLSID_PdfDocument;
    c.description = "Corvanth PDF Document";
    c.libraryPath = com::server::ModulePath(reinterpret_cast<const void*>(&Classes));
    c.progId = corvanth::kProgId;
    c.versionIndependentProgId = kVersionIndependentProgId;
    com::AddClass(classes, c);
    return classes;
}

}  // namespace

VM_COM_EXPORT com::HRESULT DllGetClassObject(com::REFCLSID clsid, com::REFIID riid, void** ppv) {
    return com::server::GetClassObject<corvanth::CPdfDocument>(clsid, corvanth::CLSID_PdfDocument, riid, ppv);
}

VM_COM_EXPORT com::HRESULT DllCanUnloadNow() { return com::server::CanUnloadNow(); }

VM_COM_EXPORT com::HRESULT DllRegisterServer() {
    return com::server::Trap([] {
        com::RegTree classes = Classes();
        return com::RegisterTree(platform::HKEY_CLASSES_ROOT, classes);
    });
}

VM_COM_EXPORT com::HRESULT DllUnregisterServer() {
    return com::server::Trap([] {
        com::RegTree classes = Classes();
        return com::UnregisterTree(platform::HKEY_CLASSES_ROOT, classes);
    });
}
