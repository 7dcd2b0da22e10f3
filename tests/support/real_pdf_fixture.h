// A test suite whose conversion context creates the real PDF library
// (registered once per suite into the sandbox's registry) and uses a stand-in
// add-on of the test's choosing. The test target defines REGSVR_BIN and
// CORVANTH_LIB.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "frame.h"
#include "run_program.h"

namespace vmtest {

template <class Addon>
class RealPdfSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sandbox_ = new Sandbox;
        ::setenv("VELLUMATE_REGISTRY", sandbox_->env["VELLUMATE_REGISTRY"].c_str(), 1);
        ::setenv("VELLUMATE_UI", "none", 1);
        registered_ = sandbox_->Run(REGSVR_BIN, {CORVANTH_LIB}) == 0;
    }
    static void TearDownTestSuite() {
        delete sandbox_;
        sandbox_ = nullptr;
    }
    // A non-interactive context whose program lives at `programPath`.
    void SetUp() override { SetUpContext(sandbox_->Path("prog/vellumate")); }
    void SetUpContext(const std::string& programPath) {
        ASSERT_TRUE(registered_) << sandbox_->lastStderr;
        ctx.programPath = programPath;
        ctx.interactive = false;
        ctx.createObjects = [this](vellumate::ConversionContext& c) {
            c.addon = com::ComPtr<tessaline::ITessaline2>(&addon);
            return com::SUCCEEDED(com::CreateInstance(corvanth::kProgId, &c.pdf));
        };
    }
    void TearDown() override { vellumate::ReleaseComObjects(ctx); }
    std::string Out(const std::string& name) { return sandbox_->Path("out/" + name); }

    static inline Sandbox* sandbox_ = nullptr;
    static inline bool registered_ = false;
    Addon addon;
    vellumate::ConversionContext ctx;
};

}  // namespace vmtest
