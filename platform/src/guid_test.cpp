#include "platform/com.h"

#include <gtest/gtest.h>

using namespace com;

TEST(Guid, RegistryFormRoundTrip) {
    EXPECT_EQ(GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
    GUID g{};
    ASSERT_TRUE(GuidFromString("{fc4801a3-2ba9-11cf-a229-00aa003d7352}", &g));
    EXPECT_EQ(g, IID_IObjectWithSite);
    EXPECT_EQ(GuidToString(g), "{FC4801A3-2BA9-11CF-A229-00AA003D7352}");
}

TEST(Guid, RejectsEverythingElse) {
    GUID g{};
    for (const char* bad : {"", "{}", "00020400-0000-0000-C000-000000000046",
                            "{00020400-0000-0000-C000-000000000046", "{00020400-0000-0000-C000-00000000004G}",
                            "{00020400-0000-0000-C000-0000000000460}", "{00020400+0000-0000-C000-000000000046}",
                            "{0002040-00000-0000-C000-000000000046}"})
        EXPECT_FALSE(GuidFromString(bad, &g)) << bad;
}
