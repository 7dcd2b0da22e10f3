// The member table every in-process server dispatches through, and the trap
// that keeps exceptions inside the server.
#include "platform/com_members.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "platform/com_server.h"
#include "platform/com_trap.h"

using namespace com;

namespace {

TEST(ComTrap, EachKindOfFailureHasItsCodeAndKeepsItsText) {
    struct Case {
        std::function<HRESULT()> body;
        HRESULT code;
        const char* text;
    };
    const Case cases[] = {
        {[]() -> HRESULT { throw InvalidArgument("page numbers start at 1"); }, E_INVALIDARG, "page numbers start at 1"},
        {[]() -> HRESULT { throw WrongState("no document"); }, E_UNEXPECTED, "no document"},
        {[]() -> HRESULT { throw Failure(E_POINTER, "null result"); }, E_POINTER, "null result"},
        {[]() -> HRESULT { throw ComError(E_ACCESSDENIED, "locked"); }, E_ACCESSDENIED, "locked"},
        {[]() -> HRESULT { throw std::bad_alloc(); }, E_OUTOFMEMORY, "out of memory"},
        {[]() -> HRESULT { throw std::runtime_error("broken"); }, E_FAIL, "broken"},
        {[]() -> HRESULT { throw 42; }, E_FAIL, "unexpected failure"},
    };
    for (const Case& c : cases) {
        std::string last;
        EXPECT_EQ(Trap(last, c.body), c.code) << c.text;
        EXPECT_EQ(last, c.text);
        // A body that returns, even a failing code, clears the text.
        EXPECT_EQ(Trap(last, [] { return E_NOTIMPL; }), E_NOTIMPL);
        EXPECT_EQ(last, "");
    }
    // Entry points without an object share the same codes.
    EXPECT_EQ(server::Trap([]() -> HRESULT { throw InvalidArgument("x"); }), E_INVALIDARG);
    EXPECT_EQ(server::Trap([] { return S_FALSE; }), S_FALSE);
}

class ICounter : public IDispatch {
public:
    virtual HRESULT get_Value(std::int32_t* v) = 0;
    virtual HRESULT put_Value(std::int32_t v) = 0;
    virtual HRESULT Add(std::int32_t step, double scale, std::int32_t* total) = 0;
    virtual HRESULT Explode() = 0;

protected:
    ~ICounter() = default;
};
constexpr IID IID_ICounter{0x5151, 0x2222, 0x3333, {9, 1, 2, 3, 4, 5, 6, 7}};

}  // namespace

template <>
inline constexpr IID com::iid_of<ICounter> = IID_ICounter;

namespace {

using members::Kind;
using members::Member;
using members::ThunkFor;

const Member kCounterMembers[] = {
    {"Value", 1, Kind::Get, "", ThunkFor<&ICounter::get_Value>},
    {"Value", 1, Kind::Put, "", ThunkFor<&ICounter::put_Value>},
    {"Add", 2, Kind::Method, "", ThunkFor<&ICounter::Add>},
    {"Explode", 3, Kind::Method, "", ThunkFor<&ICounter::Explode>},
};

class Counter : public server::Object<Counter, DispatchImpl<ICounter>> {
public:
    HRESULT get_Value(std::int32_t* v) override { return Trap(last_, [&] { return *v = value_, S_OK; }); }
    HRESULT put_Value(std::int32_t v) override { return Trap(last_, [&] { return value_ = v, S_OK; }); }
    HRESULT Add(std::int32_t step, double scale, std::int32_t* total) override {
        return Trap(last_, [&] {
            ++calls_;
            if (scale <= 0) throw InvalidArgument("the scale must be positive");
            value_ += static_cast<std::int32_t>(step * scale);
            *total = value_;
            return S_OK;
        });
    }
    HRESULT Explode() override {
        return Trap(last_, []() -> HRESULT { throw std::runtime_error("the engine broke"); });
    }
    int calls_ = 0;

protected:
    const DispatchTable& Table() const override {
        static const DispatchTable t = members::MakeTable(kCounterMembers);
        return t;
    }
    HRESULT InvokeMember(DISPID id, std::uint16_t flags, const DispArgs& args, VARIANT* result) override {
        return members::InvokeMember(kCounterMembers, static_cast<ICounter*>(this), id, flags, args, result, &last_);
    }

private:
    std::int32_t value_ = 0;
    std::string last_;
};

VARIANT I4(std::int32_t i) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = i;
    return v;
}
VARIANT Text(const char* s) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = BstrFromUtf8(s);
    return v;
}

TEST(ComMembers, PropertiesMethodsArgumentsAndDescriptions) {
    ComPtr<ICounter> counter = ComPtr<ICounter>::Attach(Counter::CreateOwned());
    auto* impl = static_cast<Counter*>(counter.Get());
    VARIANT r;
    ASSERT_EQ(InvokeByName(counter.Get(), "value", DISPATCH_PROPERTYPUT, {I4(5)}, nullptr), S_OK);
    ASSERT_EQ(InvokeByName(counter.Get(), "Value", DISPATCH_PROPERTYGET, {}, &r), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 5);
    ASSERT_EQ(InvokeByName(counter.Get(), "Add", DISPATCH_METHOD, {I4(2), I4(3)}, &r), S_OK);
    EXPECT_EQ(r.lVal, 11);

    // An argument that does not convert fails the call before the member runs.
    const int before = impl->calls_;
    VARIANT bad = Text("not a number");
    EXPECT_EQ(InvokeByName(counter.Get(), "Add", DISPATCH_METHOD, {bad, I4(1)}, &r), DISP_E_TYPEMISMATCH);
    VariantClear(&bad);
    EXPECT_EQ(impl->calls_, before);
    EXPECT_EQ(InvokeByName(counter.Get(), "Add", DISPATCH_METHOD, {I4(1)}, &r), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(InvokeByName(counter.Get(), "Add", DISPATCH_PROPERTYPUT, {I4(1), I4(1)}, nullptr),
              DISP_E_MEMBERNOTFOUND);

    // What the trap caught reaches a caller by name with its text; the
    // object's own code stays available to callers of the interface.
    std::string text;
    EXPECT_EQ(InvokeByName(counter.Get(), "Add", DISPATCH_METHOD, {I4(1), I4(0)}, &r, &text), DISP_E_EXCEPTION);
    EXPECT_EQ(text, "the scale must be positive");
    EXPECT_EQ(InvokeByName(counter.Get(), "Explode", DISPATCH_METHOD, {}, &r, &text), DISP_E_EXCEPTION);
    EXPECT_EQ(text, "the engine broke");
    EXPECT_EQ(counter->Explode(), E_FAIL);
    std::int32_t total = 0;
    EXPECT_EQ(counter->Add(1, -1, &total), E_INVALIDARG);
}

}  // namespace
