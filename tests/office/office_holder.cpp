// A client of libvmoffice.so that is killed in the middle of a run: it makes
// a Word application, opens the document named on its command line (the
// office is running then) and waits to be killed.
//   office_holder DOCUMENT
#include "platform/com.h"
#include "platform/com_dispatch.h"

#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    com::CoInitialize();
    com::CLSID word{0x000209FF, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    com::ComPtr<com::IDispatch> app;
    if (com::FAILED(com::CoCreateInstance(word, nullptr, com::CLSCTX_ALL, com::IID_IDispatch,
                                          reinterpret_cast<void**>(app.ReleaseAndGetAddressOf()))))
        return 1;
    com::VARIANT documents, doc, name;
    if (com::FAILED(com::InvokeByName(app.Get(), "Documents", com::DISPATCH_PROPERTYGET, {}, &documents)))
        return 1;
    name.vt = com::VT_BSTR;
    name.bstrVal = com::BstrFromUtf8(argv[1]);
    if (com::FAILED(com::InvokeByName(documents.pdispVal, "Open", com::DISPATCH_METHOD, {name}, &doc))) return 1;
    std::puts("open");
    std::fflush(stdout);
    for (;;) pause();
}
