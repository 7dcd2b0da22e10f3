#include "platform/com.h"

#include <gtest/gtest.h>

using namespace com;

TEST(ComError, FallbackTexts) {
    EXPECT_EQ(ComError(E_FAIL).ErrorMessage(), "Unknown error 0x80004005");
    EXPECT_EQ(ComError(REGDB_E_CLASSNOTREG).ErrorMessage(), "Unknown error 0x80040154");
    EXPECT_EQ(ComError(SELFREG_E_TYPELIB).ErrorMessage(), "IDispatch error #0");
    EXPECT_EQ(ComError(SELFREG_E_CLASS).ErrorMessage(), "IDispatch error #1");
    EXPECT_EQ(ComError(static_cast<HRESULT>(0x8004FFFFu)).ErrorMessage(), "IDispatch error #65023");
    EXPECT_EQ(ComError(static_cast<HRESULT>(0x80050000u)).ErrorMessage(), "Unknown error 0x80050000");
    EXPECT_EQ(ComError(S_FALSE).ErrorMessage(), "Unknown error 0x1");
}

TEST(ComError, DescriptionPrefersServerText) {
    EXPECT_EQ(ComError(E_FAIL, "no pages").Description(), "no pages");
    EXPECT_EQ(ComError(E_FAIL).Description(), "Unknown error 0x80004005");
}

TEST(ComError, CheckThrowsOnlyOnFailure) {
    EXPECT_EQ(Check(S_FALSE), S_FALSE);
    try {
        Check(E_NOINTERFACE);
        FAIL() << "no throw";
    } catch (const ComError& e) {
        EXPECT_EQ(e.Error(), E_NOINTERFACE);
    }
}

TEST(ComRuntime, InitialiseCountsPerThread) {
    EXPECT_EQ(CoInitialize(), S_OK);
    EXPECT_EQ(CoInitialize(), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(), S_OK);
    CoUninitialize();
}
