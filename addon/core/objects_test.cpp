#include <gtest/gtest.h>

#include <stdexcept>

#include "addon/core/addon_object.h"
#include "addon/core/type_library.h"
#include "tessaline/itessaline.h"

namespace tessaline {
namespace {

using com::ComPtr;

template <class T>
ComPtr<T> Make(com::HRESULT (*create)(com::IUnknown*, com::REFIID, void**)) {
    ComPtr<T> p;
    EXPECT_EQ(create(nullptr, com::iid_of<T>, reinterpret_cast<void**>(p.ReleaseAndGetAddressOf())), com::S_OK);
    return p;
}

com::VARIANT Long(std::int32_t v) {
    com::VARIANT r;
    r.vt = com::VT_I4;
    r.lVal = v;
    return r;
}

TEST(ObjectsTest, BothClassesAnswerTheirInterfacesWithOneIdentity) {
    long before = com::server::g_objectCount.load();
    {
        auto t2 = Make<ITessaline2>(&CreateTessaline2);
        ASSERT_TRUE(t2);
        EXPECT_EQ(com::server::g_objectCount.load(), before + 1);
        ComPtr<com::IDispatch> disp;
        ComPtr<com::IObjectWithSite> site;
        ComPtr<com::IUnknown> u1, u2;
        ComPtr<ITessaline> old;
        EXPECT_EQ(t2.As(&disp), com::S_OK);
        EXPECT_EQ(t2.As(&site), com::S_OK);
        EXPECT_EQ(t2.As(&old), com::E_NOINTERFACE);
        EXPECT_EQ(t2.As(&u1), com::S_OK);
        EXPECT_EQ(site.As(&u2), com::S_OK);
        EXPECT_EQ(u1.Get(), u2.Get());

        auto t1 = Make<ITessaline>(&CreateTessaline);
        ASSERT_TRUE(t1);
        ComPtr<ITessaline2> none;
        EXPECT_EQ(t1.As(&none), com::E_NOINTERFACE);
        ComPtr<com::IUnknown> fromSite;
        EXPECT_EQ(site->GetSite(com::IID_IUnknown, reinterpret_cast<void**>(fromSite.ReleaseAndGetAddressOf())),
                  com::E_FAIL);
        EXPECT_EQ(site->SetSite(t1.Get()), com::S_OK);
        EXPECT_EQ(site->GetSite(com::iid_of<ITessaline>, reinterpret_cast<void**>(fromSite.ReleaseAndGetAddressOf())),
                  com::S_OK);
        site->SetSite(nullptr);
    }
    EXPECT_EQ(com::server::g_objectCount.load(), before);
}

// An outer object that aggregates the add-on: its own identity, the inner
// object's interfaces.
class Outer final : public com::IUnknown {
public:
    com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
        if (riid == com::IID_IUnknown) {
            *ppv = this;
            AddRef();
            return com::S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    std::uint32_t AddRef() override { return ++refs; }
    std::uint32_t Release() override { return --refs; }
    com::IUnknown* inner = nullptr;
    std::uint32_t refs = 1;
};

TEST(ObjectsTest, AggregationDelegatesToTheOuterObject) {
    Outer outer;
    void* p = nullptr;
    EXPECT_EQ(CreateTessaline2(&outer, com::iid_of<ITessaline2>, &p), com::CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    ASSERT_EQ(CreateTessaline2(&outer, com::IID_IUnknown, &p), com::S_OK);
    outer.inner = static_cast<com::IUnknown*>(p);
    ITessaline2* t2 = nullptr;
    ASSERT_EQ(outer.QueryInterface(com::iid_of<ITessaline2>, reinterpret_cast<void**>(&t2)), com::S_OK);
    EXPECT_EQ(outer.refs, 2u);  // the reference went to the outer object
    com::IUnknown* identity = nullptr;
    ASSERT_EQ(t2->QueryInterface(com::IID_IUnknown, reinterpret_cast<void**>(&identity)), com::S_OK);
    EXPECT_EQ(identity, &outer);
    identity->Release();
    t2->Release();
    EXPECT_EQ(outer.refs, 1u);
    outer.inner->Release();  // destroys the inner object
}

TEST(ObjectsTest, DispatchByNameReachesTheMembers) {
    auto t2 = Make<ITessaline2>(&CreateTessaline2);
    com::VARIANT r;
    EXPECT_EQ(com::InvokeByName(t2.Get(), "marginleft", com::DISPATCH_PROPERTYPUT, {Long(12)}, nullptr), com::S_OK);
    EXPECT_EQ(com::InvokeByName(t2.Get(), "MarginLeft", com::DISPATCH_PROPERTYGET, {}, &r), com::S_OK);
    EXPECT_EQ(r.vt, com::VT_I4);
    EXPECT_EQ(r.lVal, 12);
    EXPECT_EQ(com::InvokeByName(t2.Get(), "MarginLeft", com::DISPATCH_PROPERTYPUT, {Long(-1)}, nullptr),
              com::E_INVALIDARG);
    EXPECT_EQ(com::InvokeByName(t2.Get(), "TotalPageCount", com::DISPATCH_PROPERTYGET | com::DISPATCH_METHOD, {}, &r),
              com::S_OK);
    EXPECT_EQ(r.lVal, 0);
    EXPECT_EQ(com::InvokeByName(t2.Get(), "ConvertPage", com::DISPATCH_METHOD, {Long(0)}, nullptr),
              com::E_INVALIDARG);
    EXPECT_EQ(com::InvokeByName(t2.Get(), "ConvertPage", com::DISPATCH_METHOD, {}, nullptr), com::DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(com::InvokeByName(t2.Get(), "GetLinkCount", com::DISPATCH_METHOD, {Long(3)}, &r), com::S_OK);
    EXPECT_EQ(r.lVal, 0);
    EXPECT_EQ(com::InvokeByName(t2.Get(), "NoSuchMember", com::DISPATCH_METHOD, {}, nullptr), com::DISP_E_UNKNOWNNAME);
    com::VARIANT word;
    word.vt = com::VT_BSTR;
    word.bstrVal = com::BstrFromUtf8("wide");
    EXPECT_EQ(com::InvokeByName(t2.Get(), "MarginTop", com::DISPATCH_PROPERTYPUT, {word}, nullptr),
              com::DISP_E_TYPEMISMATCH);
    com::VariantClear(&word);
    com::VARIANT unknown;
    unknown.vt = com::VT_EMPTY;  // a null document only disconnects
    EXPECT_EQ(com::InvokeByName(t2.Get(), "ConnectToPDFLibrary", com::DISPATCH_METHOD, {unknown}, nullptr), com::S_OK);
    // Only the put of a property takes a value; a get with one is a wrong call.
    EXPECT_EQ(com::InvokeByName(t2.Get(), "MarginTop", com::DISPATCH_PROPERTYGET, {Long(1)}, &r),
              com::DISP_E_BADPARAMCOUNT);
    com::VARIANT text;
    text.vt = com::VT_BSTR;
    text.bstrVal = com::BstrFromUtf8("http://base.test/");
    EXPECT_EQ(com::InvokeByName(t2.Get(), "BaseURL", com::DISPATCH_PROPERTYPUT, {text}, nullptr), com::S_OK);
    com::VariantClear(&text);
    EXPECT_EQ(com::InvokeByName(t2.Get(), "BaseURL", com::DISPATCH_PROPERTYGET, {}, &r), com::S_OK);
    EXPECT_EQ(com::Utf8FromBstr(r.bstrVal), "http://base.test/");
    com::VariantClear(&r);

    // DISPIDs as published.
    com::Bstr name("SetDEPCompatibility");
    const com::OLECHAR* names[] = {name.Get()};
    com::DISPID id = 0;
    EXPECT_EQ(t2->GetIDsOfNames(com::GUID_NULL, names, 1, 0, &id), com::S_OK);
    EXPECT_EQ(id, DISPID_T2_SetDEPCompatibility);

    auto t1 = Make<ITessaline>(&CreateTessaline);
    com::Bstr safe("SafeNewPage");
    names[0] = safe.Get();
    EXPECT_EQ(t1->GetIDsOfNames(com::GUID_NULL, names, 1, 0, &id), com::S_OK);
    EXPECT_EQ(id, 201);
    EXPECT_EQ(com::InvokeByName(t1.Get(), "SafeNewPage", com::DISPATCH_METHOD, {}, nullptr), com::E_NOINTERFACE);
    EXPECT_EQ(com::InvokeByName(t1.Get(), "ActivePDFLinks", com::DISPATCH_PROPERTYGET, {}, &r), com::S_OK);
    EXPECT_EQ(r.vt, com::VT_BOOL);
    EXPECT_EQ(r.boolVal, com::VARIANT_TRUE);
}

TEST(ObjectsTest, NoEffectMembersLeaveTheCallersVariableAlone) {
    auto t1 = Make<ITessaline>(&CreateTessaline);
    com::VARIANT_BOOL success = 7;
    EXPECT_EQ(t1->get_Success(&success), com::S_OK);
    EXPECT_EQ(success, 7);
    std::int32_t index = 42;
    EXPECT_EQ(t1->put_PageIndex(5), com::S_OK);
    EXPECT_EQ(t1->get_PageIndex(&index), com::S_OK);
    EXPECT_EQ(index, 42);
    com::BSTR root = nullptr;
    EXPECT_EQ(t1->put_ServerRoot(nullptr), com::S_OK);
    EXPECT_EQ(t1->get_ServerRoot(&root), com::S_OK);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(t1->ClearCache(), com::S_OK);
    EXPECT_EQ(t1->get_Success(nullptr), com::E_INVALIDARG);

    // The shared members of the older interface reach the same settings.
    EXPECT_EQ(t1->put_AutoAdjustPDFWidthToHTML(5), com::S_OK);  // any non-zero value is true
    com::VARIANT_BOOL adjust = 0;
    EXPECT_EQ(t1->get_AutoAdjustPDFWidthToHTML(&adjust), com::S_OK);
    EXPECT_EQ(adjust, com::VARIANT_TRUE);
    std::int32_t count = -1;
    EXPECT_EQ(t1->get_PageCount(&count), com::S_OK);
    EXPECT_EQ(count, 0);

    auto t2 = Make<ITessaline2>(&CreateTessaline2);
    EXPECT_EQ(t2->get_TotalPageCount(nullptr), com::E_INVALIDARG);
    EXPECT_EQ(t2->get_MarginBottom(nullptr), com::E_INVALIDARG);
    com::BSTR s = nullptr;
    EXPECT_EQ(t2->GetLinkName(0, 0, &s), com::E_INVALIDARG);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(t2->GetLinkName(0, 0, nullptr), com::E_INVALIDARG);
}

// A PDF library object that fails by throwing: the exception stays inside the
// add-on, and the caller gets a code (and, by name, the text).
class ThrowingUnknown final : public com::IUnknown {
public:
    com::HRESULT QueryInterface(com::REFIID, void**) override { throw std::runtime_error("the library broke"); }
    std::uint32_t AddRef() override { return 1; }
    std::uint32_t Release() override { return 1; }
};

TEST(ObjectsTest, ExceptionsNeverCrossTheInterface) {
    ThrowingUnknown broken;
    auto t2 = Make<ITessaline2>(&CreateTessaline2);
    EXPECT_EQ(t2->ConnectToPDFLibrary(&broken), com::E_FAIL);
    auto t1 = Make<ITessaline>(&CreateTessaline);
    EXPECT_EQ(t1->ConnectToPDFLibrary(&broken), com::E_FAIL);

    com::VARIANT arg;
    arg.vt = com::VT_UNKNOWN;
    arg.punkVal = &broken;
    std::string text;
    com::VARIANT r;
    EXPECT_EQ(com::InvokeByName(t2.Get(), "ConnectToPDFLibrary", com::DISPATCH_METHOD, {arg}, &r, &text),
              com::DISP_E_EXCEPTION);
    EXPECT_EQ(text, "the library broke");
    // The next call that returns clears the text.
    EXPECT_EQ(t2->ConnectToPDFLibrary(nullptr), com::S_OK);
    EXPECT_EQ(com::InvokeByName(t2.Get(), "NoSuchMember", com::DISPATCH_METHOD, {}, &r, &text),
              com::DISP_E_UNKNOWNNAME);
}

TEST(TypeLibraryTest, DescribesEveryMemberOnce) {
    std::string text = TypeLibraryText();
    EXPECT_NE(text.find("helpstring(\"Tessaline Add-on for Corvanth library\")"), std::string::npos);
    EXPECT_NE(text.find("version(1.0)"), std::string::npos);
    EXPECT_NE(text.find("[id(34)] HRESULT SetDEPCompatibility([in] VARIANT_BOOL useDEPCompatibleMode);"),
              std::string::npos);
    EXPECT_NE(text.find("[id(28)] HRESULT GetLinkTop(int iPage, int iLink, [out, retval] int* val);"),
              std::string::npos);
    EXPECT_NE(text.find("[id(201)] HRESULT SafeNewPage();"), std::string::npos);
    EXPECT_EQ(Tessaline2Members().size(), 44u);  // slots of each interface
    EXPECT_EQ(TessalineMembers().size(), 59u);
}

}  // namespace
}  // namespace tessaline
