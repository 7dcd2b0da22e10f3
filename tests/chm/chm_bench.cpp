// Benchmark of the compiled-help steps that do not need the HTML engine:
// unpacking with hh (wall time and the child's peak memory), reading the
// contents (parser alone, and with the orphan walk), and the topic pass
// (queueing and outlines) against an add-on that reports one page a topic.
// Usage: chm_bench HH FILE.chm   (scripts/bench_chm.sh runs it)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "chm_fixtures.h"
#include "context.h"
#include "convert_chm_contents.h"
#include "convert_chm_sitemap.h"
#include "convert_chm_topics.h"
#include "fake_addon.h"

extern char** environ;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: chm_bench HH FILE.chm\n");
        return 1;
    }
    chmtest::TempFolder tmp;
    const std::string folder = tmp.path() + "/unpacked";

    auto t0 = std::chrono::steady_clock::now();
    char* args[] = {argv[1], const_cast<char*>("-decompile"), const_cast<char*>(folder.c_str()), argv[2], nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[1], nullptr, nullptr, args, environ) != 0) return 1;
    int status = 0;
    struct rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    double unpack = Seconds(t0);
    auto files = chmtest::FilesBelow(folder);
    std::uintmax_t bytes = 0;
    for (const auto& f : files) bytes += chmtest::ReadFile(folder + "/" + f).size();
    std::printf("unpack: exit %d, %zu files, %.1f MB in %.2f s (%.0f files/s, %.1f MB/s), hh peak memory %.1f MB\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : -1, files.size(), bytes / 1e6, unpack,
                files.size() / unpack, bytes / 1e6 / unpack, ru.ru_maxrss / 1024.0);

    vellumate::ChmContents contents = vellumate::ReadChmContents(folder, true);
    if (!contents.contentsFile.empty()) {
        std::string text = chmtest::ReadFile(contents.contentsFile);
        const int rounds = 5;
        t0 = std::chrono::steady_clock::now();
        std::size_t entries = 0;
        for (int i = 0; i < rounds; ++i) entries = vellumate::ParseSitemap(text).size();
        double parse = Seconds(t0) / rounds;
        std::printf("contents parser: %.1f KB, %zu entries in %.3f s (%.1f MB/s, %.0f entries/s)\n",
                    text.size() / 1024.0, entries, parse, text.size() / 1e6 / parse, entries / parse);
    }
    for (bool exclude : {true, false}) {
        t0 = std::chrono::steady_clock::now();
        contents = vellumate::ReadChmContents(folder, exclude);
        double read = Seconds(t0);
        std::size_t titled = 0;
        int deepest = 0;
        for (const auto& t : contents.topics) {
            titled += !t.title.empty();
            deepest = std::max(deepest, t.level + 1);
        }
        std::printf("contents read (%s orphans): %zu topics, %zu outlines, %d levels, %zu warnings in %.3f s\n",
                    exclude ? "without" : "with", contents.topics.size(), titled, deepest, contents.warnings.size(),
                    read);
    }

    vmtest::FakeAddon addon;
    vellumate::ConversionContext ctx;
    ctx.interactive = false;
    ctx.addon = com::ComPtr<tessaline::ITessaline2>(&addon);
    std::int32_t total = 0;
    t0 = std::chrono::steady_clock::now();
    std::int32_t r = vellumate::LoadChmTopics(ctx, contents.topics, folder, &total);
    double pass = Seconds(t0);
    std::printf("topic pass (fake add-on, 1 page a topic): result %d, %zu loads, %zu outlines in %.3f s\n", r,
                addon.loads.size(), ctx.outlines.size(), pass);

    struct rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    std::printf("bench process peak memory: %.1f MB\n", self.ru_maxrss / 1024.0);
    ctx.addon = nullptr;
    return 0;
}
