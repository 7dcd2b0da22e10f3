// Golden traces: metafiles as annotated text (golden/*.emft) and the
// producers' fixtures, played onto the trace device and compared line by line
// with golden/*.trace. VM_UPDATE_GOLDEN=1 rewrites the traces (review the diff).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "testing/assembler.h"
#include "emf/player.h"
#include "emf/trace_device.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDir = VM_EMF_TESTS;

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string TraceOf(const std::vector<std::uint8_t>& bytes) {
    emf::TraceDevice dev;
    emf::Metafile mf = emf::Read(bytes);
    std::vector<emf::Diagnostic> diags = mf.diagnostics;
    emf::PlayOptions opt;
    opt.base = emf::FramePlacement(mf.header, 0, 0, 1, 1, 0, &diags);
    emf::PlayResult r = emf::Play(bytes, mf, dev, opt);
    diags.insert(diags.end(), r.diagnostics.begin(), r.diagnostics.end());
    std::string out;
    for (auto& d : diags) out += "# " + d.Text() + "\n";
    return out + dev.Text();
}

void Check(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const fs::path golden = kDir / "golden" / (name + ".trace");
    std::string got = TraceOf(bytes);
    if (std::getenv("VM_UPDATE_GOLDEN")) {
        std::ofstream(golden, std::ios::binary) << got;
        return;
    }
    ASSERT_TRUE(fs::exists(golden)) << golden;
    std::string want = Slurp(golden);
    // Line by line, so a failure names the first differing drawing call.
    std::istringstream a(got), b(want);
    std::string la, lb;
    for (int line = 1;; ++line) {
        bool ea = !std::getline(a, la), eb = !std::getline(b, lb);
        if (ea && eb) break;
        ASSERT_EQ(la, lb) << name << ".trace line " << line;
    }
}

TEST(GoldenTraces, AnnotatedMetafiles) {
    int n = 0;
    for (auto& e : fs::directory_iterator(kDir / "golden")) {
        if (e.path().extension() != ".emft") continue;
        SCOPED_TRACE(e.path().filename().string());
        Check(e.path().stem().string(), emf::testing::Assemble(Slurp(e.path())));
        ++n;
    }
    EXPECT_GE(n, 2);
}

TEST(GoldenTraces, ProducerFixtures) {
    for (std::string name : {"inkscape", "office"}) {
        SCOPED_TRACE(name);
        std::string b = Slurp(kDir / "fixtures" / (name + ".emf"));
        Check(name, std::vector<std::uint8_t>(b.begin(), b.end()));
    }
}

}  // namespace
