#include <dlfcn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "addon/common/testing/fake_pdf_document.h"
#include "corvanth/pdfdocument.h"
#include "platform/com.h"
#include "platform/com_dispatch.h"
#include "platform/registry.h"
#include "run_program.h"
#include "tessaline/itessaline.h"

namespace {

namespace fs = std::filesystem;
using com::ComPtr;
using tessaline::ITessaline;
using tessaline::ITessaline2;

using vmtest::RunArgv;

bool KeyExists(const std::string& path) {
    platform::HKEY key = nullptr;
    if (platform::RegOpenKeyEx(platform::HKEY_CLASSES_ROOT, path.c_str(), 0, platform::KEY_READ, &key) !=
        platform::ERROR_SUCCESS)
        return false;
    platform::RegCloseKey(key);
    return true;
}

std::string Value(const std::string& path, const std::string& name = "") {
    std::string v;
    if (platform::RegGetString(platform::HKEY_CLASSES_ROOT, path, name, &v) != platform::ERROR_SUCCESS) return "<none>";
    return v;
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = fs::temp_directory_path().string() + "/h4reg-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        setenv("VELLUMATE_REGISTRY", dir_.c_str(), 1);
        com::CoInitialize();
    }
    void TearDown() override {
        com::CoFreeUnusedLibraries();
        com::CoUninitialize();
        unsetenv("VELLUMATE_REGISTRY");
        fs::remove_all(dir_);
    }
    std::string dir_;
};

TEST_F(ServerTest, RegisteredServerIsCreatedByProgIdAndAnswersByName) {
    ASSERT_EQ(RunArgv({VM_REGSVR, "/s", VM_TESSALINE}), 0);
    std::string clsid2 = "CLSID\\" + com::GuidToString(tessaline::CLSID_Tessaline2);
    EXPECT_EQ(Value(clsid2), "Tessaline2 Class");
    EXPECT_EQ(Value(clsid2 + "\\InprocServer32"), fs::canonical(VM_TESSALINE).string());
    EXPECT_EQ(Value(clsid2 + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value(clsid2 + "\\ProgID"), "TessalineAddOn.Tessaline2.1");
    EXPECT_EQ(Value(clsid2 + "\\VersionIndependentProgID"), "TessalineAddOn.Tessaline2");
    EXPECT_TRUE(KeyExists(clsid2 + "\\Programmable"));
    EXPECT_EQ(Value(clsid2, "AppID"), com::GuidToString(tessaline::APPID_TessalineAddOn));
    EXPECT_EQ(Value(clsid2 + "\\TypeLib"), com::GuidToString(tessaline::LIBID_TessalineAddOn));
    EXPECT_EQ(Value("TessalineAddOn.Tessaline\\CurVer"), "TessalineAddOn.Tessaline.1");
    EXPECT_EQ(Value("AppID\\" + com::GuidToString(tessaline::APPID_TessalineAddOn)), "TessalineAddOn");
    EXPECT_EQ(Value("AppID\\TessalineAddOn.DLL", "AppID"), com::GuidToString(tessaline::APPID_TessalineAddOn));
    std::string typeLib = "TypeLib\\" + com::GuidToString(tessaline::LIBID_TessalineAddOn) + "\\1.0";
    EXPECT_EQ(Value(typeLib), "Tessaline Add-on for Corvanth library");
    std::ifstream tlb(Value(typeLib + "\\0\\linux64"));
    std::string text((std::istreambuf_iterator<char>(tlb)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("interface ITessaline2 : IDispatch"), std::string::npos);

    for (const char* progId : {"TessalineAddOn.Tessaline2", "TessalineAddon.Tessaline2", "TessalineAddOn.Tessaline2.1"}) {
        SCOPED_TRACE(progId);
        ComPtr<ITessaline2> t2;
        ASSERT_EQ(com::CreateInstance(progId, &t2), com::S_OK);
        ComPtr<com::IDispatch> disp;
        ASSERT_EQ(t2.As(&disp), com::S_OK);
        com::VARIANT v;
        v.vt = com::VT_I4;
        v.lVal = 1500;
        EXPECT_EQ(com::InvokeByName(disp.Get(), "PageTimeout", com::DISPATCH_PROPERTYPUT, {v}, nullptr), com::S_OK);
        std::int32_t timeout = 0;
        EXPECT_EQ(t2->get_PageTimeout(&timeout), com::S_OK);
        EXPECT_EQ(timeout, 1500);
        com::VARIANT count;
        EXPECT_EQ(com::InvokeByName(disp.Get(), "TotalPageCount", com::DISPATCH_PROPERTYGET, {}, &count), com::S_OK);
        EXPECT_EQ(count.vt, com::VT_I4);
        EXPECT_EQ(count.lVal, 0);
    }
    ComPtr<ITessaline> t1;
    ASSERT_EQ(com::CreateInstance("TessalineAddOn.Tessaline", &t1), com::S_OK);
    com::VARIANT_BOOL success = 3;
    EXPECT_EQ(t1->get_Success(&success), com::S_OK);
    EXPECT_EQ(success, 3);
    t1 = nullptr;

    ASSERT_EQ(RunArgv({VM_REGSVR, "/u", "/s", VM_TESSALINE}), 0);
    EXPECT_FALSE(KeyExists(clsid2));
    EXPECT_FALSE(KeyExists("CLSID\\" + com::GuidToString(tessaline::CLSID_Tessaline)));
    for (const char* progId : {"TessalineAddOn.Tessaline2", "TessalineAddOn.Tessaline2.1", "TessalineAddOn.Tessaline",
                               "TessalineAddOn.Tessaline.1"})
        EXPECT_FALSE(KeyExists(progId)) << progId;
    EXPECT_FALSE(KeyExists("TypeLib\\" + com::GuidToString(tessaline::LIBID_TessalineAddOn)));
    EXPECT_FALSE(KeyExists("Interface\\" + com::GuidToString(tessaline::IID_ITessaline2)));
    EXPECT_TRUE(KeyExists("AppID"));
    EXPECT_TRUE(KeyExists("CLSID"));
    ComPtr<ITessaline2> gone;
    EXPECT_NE(com::CreateInstance("TessalineAddOn.Tessaline2", &gone), com::S_OK);
}

// The exports answer as the runtime expects: a factory per class, and
// "can unload" only while no object, factory or lock is alive.
TEST(ServerExports, ClassObjectsAndUnloadCounting) {
    void* lib = dlopen(VM_TESSALINE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto getClassObject = reinterpret_cast<com::DllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<com::DllCanUnloadNowFn>(dlsym(lib, "DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject && canUnload);
    EXPECT_EQ(canUnload(), com::S_OK);

    void* p = nullptr;
    EXPECT_EQ(getClassObject(com::GUID_NULL, com::IID_IClassFactory, &p), com::CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClassObject(tessaline::CLSID_Tessaline2, com::IID_IClassFactory, &p), com::S_OK);
    auto factory = ComPtr<com::IClassFactory>::Attach(static_cast<com::IClassFactory*>(p));
    EXPECT_EQ(canUnload(), com::S_FALSE);
    ComPtr<ITessaline2> t2;
    ASSERT_EQ(factory->CreateInstance(nullptr, com::iid_of<ITessaline2>, reinterpret_cast<void**>(t2.ReleaseAndGetAddressOf())),
              com::S_OK);
    ComPtr<ITessaline> wrong;
    EXPECT_EQ(factory->CreateInstance(nullptr, com::iid_of<ITessaline>, reinterpret_cast<void**>(wrong.ReleaseAndGetAddressOf())),
              com::E_NOINTERFACE);
    EXPECT_EQ(factory->LockServer(true), com::S_OK);
    factory = nullptr;
    t2 = nullptr;
    EXPECT_EQ(canUnload(), com::S_FALSE);  // locked
    ASSERT_EQ(getClassObject(tessaline::CLSID_Tessaline, com::IID_IClassFactory, &p), com::S_OK);
    factory = ComPtr<com::IClassFactory>::Attach(static_cast<com::IClassFactory*>(p));
    EXPECT_EQ(factory->LockServer(false), com::S_OK);
    factory = nullptr;
    EXPECT_EQ(canUnload(), com::S_OK);
    dlclose(lib);
}

// The whole client sequence through the real library: a log file with exact
// lines, a document on the older interface, a load without an HTML engine or
// with one, and an out-of-range page.
TEST_F(ServerTest, ClientSequenceWritesTheLog) {
    ASSERT_EQ(RunArgv({VM_REGSVR, "/s", VM_TESSALINE}), 0);
    ComPtr<ITessaline2> t2;
    ASSERT_EQ(com::CreateInstance("TessalineAddOn.Tessaline2", &t2), com::S_OK);
    std::string log = dir_ + "/addon.log";
    com::Bstr name(log);
    ASSERT_EQ(t2->SetLogFile(name.Get()), com::S_OK);
    ASSERT_EQ(t2->SetLogFile(name.Get()), com::S_OK);  // same name: still open, not truncated
    EXPECT_EQ(t2->StartHTMLEngine(nullptr, nullptr), com::S_OK);
    tessaline::testing::FakePdfDocument doc(false, true);
    EXPECT_EQ(t2->ConnectToPDFLibrary(doc.Unknown()), com::S_OK);
    EXPECT_EQ(t2->put_MarginTop(-1), com::E_INVALIDARG);
    EXPECT_EQ(t2->put_PageTimeout(1500), com::S_OK);
    EXPECT_EQ(t2->ConvertPage(0), com::E_INVALIDARG);
    EXPECT_EQ(t2->SafeNewPage(), com::S_OK);
    EXPECT_EQ(doc.pages.size(), 2u);
    EXPECT_EQ(t2->DisconnectFromPDFLibrary(), com::S_OK);
    EXPECT_EQ(doc.refs, 0);
    t2 = nullptr;

    std::ifstream in(log);
    std::vector<std::string> lines;
    std::regex format(R"(^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4} (ERROR: )?[A-Za-z0-9]+ - .*$)");
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(std::regex_match(line, format)) << line;
        lines.push_back(line.substr(25));
    }
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0].rfind("TessalineImpl - Operating system is ", 0), 0u);
    EXPECT_EQ(lines[3], "TessalineImpl - PDFInterface released");
    EXPECT_EQ(lines[4], "TessalineImpl - PDFInterface set");
    EXPECT_EQ(lines[5], "TessalineImpl - Page timeout set to 1 seconds");
    EXPECT_EQ(lines[6], "TessalineImpl - ConvertPage called for page number 0");
    EXPECT_EQ(lines[7], "ERROR: TessalineImpl - Wrong parameter passed to ConvertPage");
    EXPECT_EQ(lines[8], "TessalineImpl - SafeNewPage called");
    EXPECT_EQ(lines[9], "TessalineImpl - PDFInterface released");
    EXPECT_EQ(lines[10], "TessalineImpl - Destroyed");
}

#ifdef VM_CORVANTH
// An HTML string through the real engine onto a real PDF document: the text
// is HTML ("a < b" stays text, the tags are markup), an internal link finds
// its anchor, and the file holds the text.
TEST_F(ServerTest, HtmlStringBecomesPdfPagesThroughTheRealDocument) {
    ASSERT_EQ(RunArgv({VM_REGSVR, "/s", VM_TESSALINE}), 0);
    ASSERT_EQ(RunArgv({VM_REGSVR, "/s", VM_CORVANTH}), 0);
    ComPtr<corvanth::IPdfDocument> pdf;
    ASSERT_EQ(com::CreateInstance(corvanth::kProgId, &pdf), com::S_OK);
    std::string out = dir_ + "/out.pdf";
    com::Bstr file(out);
    ASSERT_EQ(pdf->put_FileName(file.Get()), com::S_OK);
    ASSERT_EQ(pdf->BeginDoc(), com::S_OK);

    ComPtr<ITessaline2> t2;
    ASSERT_EQ(com::CreateInstance("TessalineAddOn.Tessaline2", &t2), com::S_OK);
    std::string log = dir_ + "/addon.log";
    com::Bstr logName(log);
    ASSERT_EQ(t2->SetLogFile(logName.Get()), com::S_OK);
    ASSERT_EQ(t2->ConnectToPDFLibrary(pdf.Get()), com::S_OK);
    ASSERT_EQ(t2->put_MarginLeft(20), com::S_OK);
    ASSERT_EQ(t2->put_MarginTop(20), com::S_OK);
    std::string html = "<p>a < b</p><p><a href=\"#there\">jump</a></p>"
                       "<div style=\"page-break-before: always\"><a name=\"There\">target</a></div>";
    com::Bstr text(html);
    ASSERT_EQ(t2->LoadTextString(text.Get()), com::S_OK);
    std::int32_t pages = 0;
    ASSERT_EQ(t2->get_TotalPageCount(&pages), com::S_OK);
    std::ifstream logIn(log);
    std::string logText((std::istreambuf_iterator<char>(logIn)), std::istreambuf_iterator<char>());
    ASSERT_GE(pages, 1) << logText;
    EXPECT_EQ(t2->ConvertAll(), com::S_OK) << [&] {
        std::ifstream again(log);
        return std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
    }();
    EXPECT_EQ(t2->get_TotalPageCount(&pages), com::S_OK);
    EXPECT_EQ(pages, 0);  // ConvertAll unloads
    EXPECT_EQ(t2->DisconnectFromPDFLibrary(), com::S_OK);
    t2 = nullptr;
    ASSERT_EQ(pdf->EndDoc(), com::S_OK);
    pdf = nullptr;
    ASSERT_TRUE(fs::exists(out));
    if (fs::exists("/usr/bin/pdftotext")) {
        std::string txt = dir_ + "/out.txt";
        ASSERT_EQ(RunArgv({"/usr/bin/pdftotext", out, txt}), 0);
        std::ifstream in(txt);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string packed;
        for (char c : content)
            if (c != ' ') packed += c;
        EXPECT_NE(packed.find("a<b"), std::string::npos) << content;
        EXPECT_EQ(content.find("<p>"), std::string::npos) << content;  // markup, not text
        EXPECT_NE(content.find("target"), std::string::npos) << content;
    }
}
#endif

}  // namespace
