// Measures the engine on documents: parse, layout and recording time per KB
// of HTML and the peak memory of the layout, one line per file.
//   vm_htmlbench [--isolated] FILE...
//   vm_htmlbench --serial FILE...   (all files in one process, one after the
//                                    other: the steady cost of a long run)
//   vm_htmlbench --digest FILE...   (as --serial; prints a hash of each file's
//                                    whole result and metafile, to compare
//                                    two builds' output: scripts/compare_html_output.sh)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>

#include "emf/recorder_device.h"
#include "emf/writer.h"
#include "htmlengine/engine.h"
#include "htmlengine/url.h"

int main(int argc, char** argv) {
    bool isolated = false;
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--isolated") == 0) isolated = true, first = 2;
    bool digest = argc > 1 && std::strcmp(argv[1], "--digest") == 0;
    if (argc > 1 && (std::strcmp(argv[1], "--serial") == 0 || digest)) {
        auto engine = htmlengine::CreateLitehtmlEngine();
        engine->WarmUp();
        long long bytes = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 2; i < argc; ++i) {
            htmlengine::RenderRequest req;
            req.address = htmlengine::FileUrlFromPath(argv[i]);
            req.timeoutMs = 60000;
            auto res = engine->Render(req);
            emf::Recorder rec;
            emf::RecorderDevice dev(rec);
            res.drawing.Replay(dev);
            auto emfBytes = rec.Finish();
            bytes += static_cast<long long>(emfBytes.size());
            if (digest) {
                // The whole result (display list, element boxes, anchors,
                // warnings) and the metafile made from it.
                std::string wire;
                htmlengine::SerializeResult(res, wire);
                std::uint64_t h = 1469598103934665603ull;
                auto mix = [&h](const void* p, std::size_t n) {
                    for (std::size_t k = 0; k < n; ++k) h = (h ^ static_cast<const unsigned char*>(p)[k]) * 1099511628211ull;
                };
                mix(wire.data(), wire.size());
                mix(emfBytes.data(), emfBytes.size());
                std::printf("%016llx %zu %s\n", static_cast<unsigned long long>(h), emfBytes.size(), argv[i]);
            }
        }
        if (digest) return 0;
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        struct rusage ru {};
        getrusage(RUSAGE_SELF, &ru);
        std::printf("%d files in %.1f ms (%.2f ms a file), %lld bytes of metafile, peak %ld KB\n", argc - 2, ms,
                    ms / std::max(1, argc - 2), bytes, ru.ru_maxrss);
        return 0;
    }
    // Fonts and the default style sheet are loaded once, as the add-on does
    // before its first layout process; each file then gets a fresh process.
    auto warm = htmlengine::CreateLitehtmlEngine();
    warm->WarmUp();
    std::printf("file\tbytes\tms\tms_per_kb\tpeak_rss_kb\twidth\theight\tcalls\n");
    for (int i = first; i < argc; ++i) {
        struct stat st {};
        if (::stat(argv[i], &st) != 0) continue;
        // One child per file, so the peak memory is that file's own.
        int fds[2];
        if (pipe(fds) != 0) return 1;
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            auto engine = isolated ? htmlengine::CreateIsolatedEngine(htmlengine::CreateLitehtmlEngine()) : std::move(warm);
            htmlengine::RenderRequest req;
            req.address = htmlengine::FileUrlFromPath(argv[i]);
            req.timeoutMs = 60000;
            req.deferTeardown = true;  // as in a layout process: taken apart after the answer, or never
            auto t0 = std::chrono::steady_clock::now();
            auto res = engine->Render(req);
            emf::Recorder rec;
            emf::RecorderDevice dev(rec);
            res.drawing.Replay(dev);
            auto bytes = rec.Finish();
            double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            struct rusage ru {};
            getrusage(isolated ? RUSAGE_CHILDREN : RUSAGE_SELF, &ru);
            char line[512];
            int n = std::snprintf(line, sizeof line, "%.3f\t%ld\t%d\t%d\t%zu\n", ms, ru.ru_maxrss, res.layoutWidth,
                                  res.scrollHeight, res.drawing.CallCount());
            (void)!write(fds[1], line, n);
            _exit(res.documentAvailable ? 0 : 1);
        }
        close(fds[1]);
        char buf[512] = {0};
        ssize_t n = read(fds[0], buf, sizeof buf - 1);
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (n <= 0) {
            std::printf("%s\t%lld\tfailed\n", argv[i], static_cast<long long>(st.st_size));
            continue;
        }
        double ms = std::atof(buf);
        std::printf("%s\t%lld\t%.2f\t%.3f\t%s", argv[i], static_cast<long long>(st.st_size), ms,
                    ms / (st.st_size / 1024.0), std::strchr(buf, '\t') + 1);
    }
    return 0;
}
