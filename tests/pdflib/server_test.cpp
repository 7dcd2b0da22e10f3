// The server as clients see it: registered by its own DllRegisterServer into a
// private registry, created by ProgID through the component runtime, used,
// unregistered.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include "corvanth/pdfdocument.h"
#include "platform/registry.h"
#include "tool_support.h"

namespace {

using corvanth::IPdfDocument;
using corvanth::IPdfDocumentCompat;
using pdftest::B;
using pdftest::Quote;
using pdftest::RunTool;

std::string ReadDefault(const std::string& key) {
    platform::HKEY k = nullptr;
    if (platform::RegOpenKeyEx(platform::HKEY_CLASSES_ROOT, key.c_str(), 0, platform::KEY_READ, &k) != 0) return "";
    char buf[1024] = {};
    platform::DWORD size = sizeof buf, type = 0;
    platform::RegQueryValueEx(k, nullptr, nullptr, &type, reinterpret_cast<platform::BYTE*>(buf), &size);
    platform::RegCloseKey(k);
    return buf;
}

TEST(CorvanthServer, RegistersCreatesByProgIdAndUnregisters) {
    pdftest::TempDir tmp;
    setenv("VELLUMATE_REGISTRY", tmp.Path("registry").c_str(), 1);
    void* lib = dlopen(CORVANTH_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto reg = reinterpret_cast<com::DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
    auto unreg = reinterpret_cast<com::DllUnregisterServerFn>(dlsym(lib, "DllUnregisterServer"));
    ASSERT_TRUE(reg && unreg && dlsym(lib, "DllGetClassObject") && dlsym(lib, "DllCanUnloadNow"));
    ASSERT_EQ(reg(), com::S_OK);

    std::string clsid = com::GuidToString(corvanth::CLSID_PdfDocument);
    EXPECT_EQ(ReadDefault("Corvanth3.PDFDocument3\\CLSID"), clsid);
    std::string server = ReadDefault("CLSID\\" + clsid + "\\InprocServer32");
    EXPECT_EQ(std::filesystem::canonical(server), std::filesystem::canonical(CORVANTH_LIBRARY));

    {
        com::ComPtr<IPdfDocument> doc;
        ASSERT_EQ(com::CreateInstance(corvanth::kProgId, &doc), com::S_OK);
        std::string out = tmp.Path("server.pdf");
        ASSERT_EQ(doc->put_FileName(B(out).Get()), com::S_OK);
        ASSERT_EQ(doc->BeginDoc(), com::S_OK);
        ASSERT_EQ(doc->TextOut(B("Made through the registry").Get(), 50, 50, 0), com::S_OK);
        com::ComPtr<IPdfDocumentCompat> compat;
        ASSERT_EQ(doc.As(&compat), com::S_OK);
        ASSERT_EQ(compat->NewPage(), com::S_OK);
        ASSERT_EQ(doc->EndDoc(), com::S_OK);
        auto text = RunTool("pdftotext " + Quote(out) + " -");
        EXPECT_NE(text.out.find("Made through the registry"), std::string::npos) << text.out;
        auto dll = reinterpret_cast<com::DllCanUnloadNowFn>(dlsym(lib, "DllCanUnloadNow"));
        EXPECT_EQ(dll(), com::S_FALSE);  // objects alive
    }

    ASSERT_EQ(unreg(), com::S_OK);
    EXPECT_EQ(ReadDefault("Corvanth3.PDFDocument3\\CLSID"), "");
    com::ComPtr<IPdfDocument> gone;
    EXPECT_TRUE(com::FAILED(com::CreateInstance(corvanth::kProgId, &gone)));
    unsetenv("VELLUMATE_REGISTRY");
}

}  // namespace
