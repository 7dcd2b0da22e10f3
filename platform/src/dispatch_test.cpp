// The dispatch helper and the server object base, in process.
#include "platform/com_dispatch.h"
#include "platform/com_server.h"

#include <gtest/gtest.h>

using namespace com;

namespace {

class IShape : public IDispatch {
public:
    virtual HRESULT Area(double* out) = 0;

protected:
    ~IShape() = default;
};
constexpr IID IID_IShape{0x11111111, 0x2222, 0x3333, {0, 1, 2, 3, 4, 5, 6, 7}};

}  // namespace

template <>
inline constexpr IID com::iid_of<IShape> = IID_IShape;

namespace {

class Square : public server::Object<Square, DispatchImpl<IShape>, IObjectWithSite> {
public:
    HRESULT Area(double* out) override {
        *out = side_ * side_;
        return S_OK;
    }
    HRESULT SetSite(IUnknown*) override { return S_OK; }
    HRESULT GetSite(REFIID, void**) override { return E_NOTIMPL; }

protected:
    const DispatchTable& Table() const override {
        static const DispatchTable t({{"Side", 1}, {"Scale", 2}, {"Label", 3}});
        return t;
    }
    HRESULT InvokeMember(DISPID id, std::uint16_t flags, const DispArgs& args, VARIANT* result) override {
        if (id == 1) {
            if (flags & DISPATCH_PROPERTYPUT) return args.Double(0, &side_);
            SetResult(result, side_);
            return S_OK;
        }
        if (id == 2) {  // Scale(factor, [round])
            if (HRESULT hr = args.Expect(1, 2); FAILED(hr)) return hr;
            double f;
            if (HRESULT hr = args.Double(0, &f); FAILED(hr)) return hr;
            bool round = false;
            if (args.Has(1))
                if (HRESULT hr = args.Bool(1, &round); FAILED(hr)) return hr;
            side_ *= f;
            SetResult(result, round ? static_cast<std::int32_t>(side_ + 0.5) : static_cast<std::int32_t>(side_));
            return S_OK;
        }
        throw ComError(E_FAIL, "no label here");
    }

private:
    double side_ = 2;
};

VARIANT R8(double d) {
    VARIANT v;
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
}

}  // namespace

TEST(Dispatch, NamesIdentityAndCounts) {
    long before = server::g_objectCount.load();
    ComPtr<IShape> shape = ComPtr<IShape>::Attach(Square::CreateOwned());
    EXPECT_EQ(server::g_objectCount.load(), before + 1);
    ComPtr<IDispatch> disp;
    ComPtr<IObjectWithSite> site;
    ComPtr<IUnknown> a, b;
    ASSERT_EQ(shape.As(&disp), S_OK);
    ASSERT_EQ(shape.As(&site), S_OK);
    ASSERT_EQ(site.As(&a), S_OK);
    ASSERT_EQ(disp.As(&b), S_OK);
    EXPECT_EQ(a.Get(), b.Get());
    EXPECT_EQ(server::CanUnloadNow(), S_FALSE);

    Bstr side("SIDE"), other("factor");
    const OLECHAR* names[] = {side.Get(), other.Get()};
    DISPID ids[2];
    EXPECT_EQ(disp->GetIDsOfNames(GUID_NULL, names, 2, 0, ids), DISP_E_UNKNOWNNAME);  // parameter names unknown
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    std::uint32_t n = 9;
    EXPECT_EQ(disp->GetTypeInfoCount(&n), S_OK);
    EXPECT_EQ(n, 0u);

    shape = nullptr;
    disp = nullptr;
    site = nullptr;
    a = nullptr;
    b = nullptr;
    EXPECT_EQ(server::g_objectCount.load(), before);
}

TEST(Dispatch, ArgumentsOptionalByReferenceAndErrors) {
    ComPtr<IShape> shape = ComPtr<IShape>::Attach(Square::CreateOwned());
    ComPtr<IDispatch> disp;
    ASSERT_EQ(shape.As(&disp), S_OK);
    VARIANT r;
    ASSERT_EQ(InvokeByName(disp.Get(), "Scale", DISPATCH_METHOD, {R8(1.5)}, &r), S_OK);
    EXPECT_EQ(r.lVal, 3);

    // An omitted optional argument, and one passed by reference.
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    ASSERT_EQ(InvokeByName(disp.Get(), "Scale", DISPATCH_METHOD, {R8(1), missing}, &r), S_OK);
    VARIANT inner = R8(1.25), ref;
    ref.vt = VT_VARIANT | VT_BYREF;
    ref.byref = &inner;
    VARIANT yes;
    yes.vt = VT_BOOL;
    yes.boolVal = VARIANT_TRUE;
    ASSERT_EQ(InvokeByName(disp.Get(), "Scale", DISPATCH_METHOD, {ref, yes}, &r), S_OK);
    EXPECT_EQ(r.lVal, 4);  // 3.75 rounded

    // The failing argument's position comes back reversed, as automation counts.
    VARIANT word;
    word.vt = VT_BSTR;
    word.bstrVal = BstrFromUtf8("big");
    VARIANT args[2] = {word, R8(2)};  // reversed: Scale(2, "big")
    DISPPARAMS p;
    p.rgvarg = args;
    p.cArgs = 2;
    std::uint32_t argErr = 99;
    EXCEPINFO ex;
    EXPECT_EQ(disp->Invoke(2, GUID_NULL, 0, DISPATCH_METHOD, &p, &r, &ex, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    VariantClear(&word);
    EXPECT_EQ(InvokeByName(disp.Get(), "Scale", DISPATCH_METHOD, {}, &r), DISP_E_BADPARAMCOUNT);

    DISPID named = 5;
    p.rgdispidNamedArgs = &named;
    p.cNamedArgs = 1;
    p.rgvarg = args + 1;
    p.cArgs = 1;
    EXPECT_EQ(disp->Invoke(2, GUID_NULL, 0, DISPATCH_METHOD, &p, &r, &ex, &argErr), DISP_E_PARAMNOTFOUND);

    EXCEPINFO info;
    EXPECT_EQ(disp->Invoke(3, GUID_NULL, 0, DISPATCH_METHOD, nullptr, &r, &info, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(Utf8FromBstr(info.bstrDescription), "no label here");
    EXPECT_EQ(info.scode, E_FAIL);
    SysFreeString(info.bstrDescription);

    ASSERT_EQ(InvokeByName(disp.Get(), "side", DISPATCH_PROPERTYPUT, {R8(10)}, nullptr), S_OK);
    double area = 0;
    shape->Area(&area);
    EXPECT_EQ(area, 100);
}

TEST(Dispatch, TrapTurnsExceptionsIntoCodes) {
    EXPECT_EQ(server::Trap([]() -> HRESULT { throw ComError(E_POINTER); }), E_POINTER);
    EXPECT_EQ(server::Trap([]() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(server::Trap([]() -> HRESULT { throw 42; }), E_FAIL);
    EXPECT_EQ(server::Trap([] { return S_FALSE; }), S_FALSE);
}
