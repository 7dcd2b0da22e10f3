#include "platform/com.h"

#include <gtest/gtest.h>

using namespace com;

namespace {

// Counts references so that VariantCopy/VariantClear can be checked.
class Counted : public IUnknown {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    std::uint32_t AddRef() override { return ++refs; }
    std::uint32_t Release() override { return --refs; }
    std::uint32_t refs = 1;
};

VARIANT Str(const char* s) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = BstrFromUtf8(s);
    return v;
}

}  // namespace

TEST(Variant, CopyAndClearOwnTheirContents) {
    VARIANT a = Str("text"), b;
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(a.bstrVal, b.bstrVal);
    EXPECT_EQ(Utf8FromBstr(b.bstrVal), "text");
    VariantClear(&a);
    VariantClear(&b);
    EXPECT_EQ(b.vt, VT_EMPTY);

    Counted obj;
    VARIANT u, c;
    u.vt = VT_UNKNOWN;
    u.punkVal = &obj;
    VariantCopy(&c, &u);
    EXPECT_EQ(obj.refs, 2u);
    VariantClear(&c);
    EXPECT_EQ(obj.refs, 1u);
}

TEST(Variant, ChangeTypeConvertsAutomationArguments) {
    VARIANT s = Str(" 42 "), out;
    ASSERT_EQ(VariantChangeType(&out, &s, VT_I4), S_OK);
    EXPECT_EQ(out.vt, VT_I4);
    EXPECT_EQ(out.lVal, 42);
    VariantClear(&s);

    VARIANT r;
    r.vt = VT_R8;
    r.dblVal = 2.5;
    ASSERT_EQ(VariantChangeType(&out, &r, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 2);  // half to even
    r.dblVal = 3.5;
    VariantChangeType(&out, &r, VT_I4);
    EXPECT_EQ(out.lVal, 4);
    ASSERT_EQ(VariantChangeType(&out, &r, VT_BSTR), S_OK);
    EXPECT_EQ(Utf8FromBstr(out.bstrVal), "3.5");
    VariantClear(&out);

    VARIANT i;
    i.vt = VT_I4;
    i.lVal = 7;
    ASSERT_EQ(VariantChangeType(&out, &i, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    VARIANT t = Str("False");
    ASSERT_EQ(VariantChangeType(&out, &t, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_FALSE);
    // In place: the source string is freed exactly once.
    ASSERT_EQ(VariantChangeType(&t, &t, VT_I4), S_OK);
    EXPECT_EQ(t.vt, VT_I4);
    EXPECT_EQ(t.lVal, 0);
}

TEST(Variant, ChangeTypeRefusesWhatHasNoForm) {
    VARIANT s = Str("twelve"), out;
    EXPECT_EQ(VariantChangeType(&out, &s, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&out, &s, VT_UNKNOWN), DISP_E_TYPEMISMATCH);
    VariantClear(&s);
    VARIANT big;
    big.vt = VT_R8;
    big.dblVal = 1e12;
    EXPECT_EQ(VariantChangeType(&out, &big, VT_I4), DISP_E_OVERFLOW);
    big.dblVal = 0.0 / 0.0;
    EXPECT_EQ(VariantChangeType(&out, &big, VT_I4), DISP_E_OVERFLOW);
}
