// Web transfers and SVG pictures live in modules opened on first use: a page
// that needs neither maps neither, a missing module is a clear failure with
// the old fallback, and a module a layout process opened is opened by the
// process that forked it, for the next layouts.
#include "optional_modules.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "emf/device.h"
#include "htmlengine/engine.h"
#include "pictures.h"
#include "resources.h"

namespace htmlengine {
namespace {

const char kSvg[] = "<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'><rect width='4' height='4'/></svg>";

std::string Maps() {
    std::ifstream in("/proc/self/maps");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class OptionalModules : public ::testing::Test {
protected:
    void SetUp() override { SetModuleFolderForTesting(""); }
    void TearDown() override { SetModuleFolderForTesting(""); }
};

bool Mapped(const char* library) { return Maps().find(library) != std::string::npos; }

TEST_F(OptionalModules, LocalPageOpensNoModuleAndMapsNeitherLibrary) {
    // Earlier tests of the same process may have opened them already.
    const bool curlBefore = Mapped("libcurl"), rsvgBefore = Mapped("librsvg"), cairoBefore = Mapped("libcairo");
    auto engine = CreateLitehtmlEngine();
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.html = "<p>text <img src='data:image/gif;base64,R0lGODlhAQABAAAAACw=' alt='x'> "
               "<a href='https://example.invalid/'>link</a></p>";
    RenderResult r = engine->Render(req);
    EXPECT_TRUE(r.documentAvailable);
    EXPECT_EQ(OpenedModules(), 0u);
    EXPECT_EQ(Mapped("libcurl"), curlBefore);
    EXPECT_EQ(Mapped("librsvg"), rsvgBefore);
    EXPECT_EQ(Mapped("libcairo"), cairoBefore);
}

TEST_F(OptionalModules, MissingModulesFailClearlyWithTheOldFallback) {
    SetModuleFolderForTesting("/nonexistent-vellumate-modules");
    std::string why;
    EXPECT_EQ(SvgModule(&why), nullptr);
    EXPECT_NE(why.find("libvm_svg.so"), std::string::npos) << why;
    EXPECT_EQ(DecodePicture(kSvg), nullptr);  // shown by its alt text

    ResourceFetcher fetcher(ResourceFetcher::Clock::now() + std::chrono::seconds(5), "test", 1024);
    FetchResult r = fetcher.Fetch("http://127.0.0.1:9/page.html");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.timedOut);
    EXPECT_NE(r.error.find("libvm_fetch.so"), std::string::npos) << r.error;
    EXPECT_EQ(OpenedModules(), 0u);

    // Local files never need the module.
    EXPECT_TRUE(fetcher.Fetch("data:text/plain,abc").ok);
}

TEST_F(OptionalModules, ModulesOfAnotherBuildAreRefusedUncalled) {
    SetModuleFolderForTesting(VM_STALE_MODULES);
    std::string why;
    EXPECT_EQ(SvgModule(&why), nullptr);  // calling it would abort
    EXPECT_NE(why.find("another build"), std::string::npos) << why;
    EXPECT_EQ(DecodePicture(kSvg), nullptr);
    ResourceFetcher fetcher(ResourceFetcher::Clock::now() + std::chrono::seconds(5), "test", 1024);
    FetchResult r = fetcher.Fetch("http://127.0.0.1:9/page.html");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("another build"), std::string::npos) << r.error;
    EXPECT_EQ(OpenedModules(), 0u);
}

TEST_F(OptionalModules, ModulesOfTheBuildAreFoundBesideOrBelowLib) {
    std::string why;
    EXPECT_NE(FetchModule(&why), nullptr) << why;
    EXPECT_EQ(OpenedModules(), static_cast<std::uint32_t>(OptionalModule::Fetch));
    // A transfer to a closed port fails as a transfer, not as a missing module.
    ResourceFetcher fetcher(ResourceFetcher::Clock::now() + std::chrono::seconds(5), "test", 1024);
    FetchResult r = fetcher.Fetch("http://127.0.0.1:9/page.html");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.find("libvm_fetch.so"), std::string::npos) << r.error;
}

#ifdef VM_HAVE_RSVG
TEST_F(OptionalModules, ModuleOpenedByALayoutProcessIsOpenedForTheNextOne) {
    auto engine = CreateIsolatedEngine(CreateLitehtmlEngine());
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    // kSvg in base64
    req.html = "<p><img src='data:image/svg+xml;base64,PHN2ZyB4bWxucz0naHR0cDovL3d3dy53My5vcmcvMjAwMC9zdmcnIHdpZHRoPSc0JyBoZWlnaHQ9JzQnPjxyZWN0IHdpZHRoPSc0JyBoZWlnaHQ9JzQnLz48L3N2Zz4=' alt='fallback'></p>";
    RenderResult r = engine->Render(req);
    ASSERT_TRUE(r.documentAvailable);
    ASSERT_FALSE(r.crashed);
    // The parent opens it before it forks the next layout process (another
    // memory limit needs one).
    RenderRequest next;
    next.kind = RenderRequest::Kind::String;
    next.html = "<p>next</p>";
    next.memoryLimitBytes = req.memoryLimitBytes / 2;
    ASSERT_FALSE(engine->Render(next).crashed);
    EXPECT_EQ(OpenedModules(), static_cast<std::uint32_t>(OptionalModule::Svg));
    EXPECT_TRUE(Mapped("librsvg"));
}
#endif

}  // namespace
}  // namespace htmlengine
