// Measures the dispatcher's hand-off: the time from starting `dispatcher`
// to the wake-up of a process waiting on the print event, over 100 jobs of
// 10 pages, and what the waiting process costs while nothing happens.
//
//   pipeline_bench DISPATCHER PAGE.emf [JOBS] [PAGES] [IDLE_SECONDS]
//
// Needs the environment scripts/bench_pipeline.sh makes: a private print
// service with the queue "Vellumate", registry and runtime folder.
#include "platform/process.h"
#include "platform/sync.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace platform;
namespace fs = std::filesystem;

namespace {

long long NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}

// voluntary context switches and CPU ticks of a process.
void ProcessCost(pid_t pid, long* switches, long* ticks) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("voluntary_ctxt_switches:")) *switches = std::atol(line.c_str() + 24);
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t close = all.rfind(')');
    std::vector<std::string> fields;
    std::string f;
    for (std::size_t i = close + 2; i <= all.size(); ++i) {
        if (i == all.size() || all[i] == ' ') {
            fields.push_back(f);
            f.clear();
        } else {
            f += all[i];
        }
    }
    *ticks = fields.size() > 12 ? std::atol(fields[11].c_str()) + std::atol(fields[12].c_str()) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pipeline_bench DISPATCHER PAGE.emf [JOBS] [PAGES] [IDLE_SECONDS]\n");
        return 2;
    }
    std::string dispatcher = argv[1], page = argv[2];
    int jobs = argc > 3 ? std::atoi(argv[3]) : 100;
    int pages = argc > 4 ? std::atoi(argv[4]) : 10;
    int idle = argc > 5 ? std::atoi(argv[5]) : 10;
    std::string spool = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/vellumate/spool/";
    fs::create_directories(spool);

    auto print = NamedEvent::Create("Vellumate_printevent", true, false);
    auto quit = NamedEvent::Create("bench_quit", true, false);
    int pipefd[2];
    if (!print || !quit || pipe(pipefd) != 0) return 1;
    pid_t waiter = fork();
    if (waiter == 0) {
        // The agent's part: wait on the print event (and one to end on),
        // tell the time of each wake-up, reset.
        close(pipefd[0]);
        auto p = NamedEvent::Open("Vellumate_printevent");
        auto q = NamedEvent::Open("bench_quit");
        NamedEvent* events[] = {p.get(), q.get()};
        for (;;) {
            DWORD r = WaitForMultipleEvents(events, false, INFINITE);
            if (r != WAIT_OBJECT_0) _exit(0);
            long long t = NowNs();
            p->Reset();
            if (write(pipefd[1], &t, sizeof t) != sizeof t) _exit(1);
        }
    }
    close(pipefd[1]);

    std::vector<double> ms;
    for (int j = 0; j < jobs; ++j) {
        for (int i = 1; i <= pages; ++i)
            fs::copy_file(page, spool + "~emf" + std::to_string(j) + "-" + std::to_string(i) + ".tmp",
                          fs::copy_options::overwrite_existing);
        long long start = NowNs();
        ChildProcess d;
        if (!d.Start(std::vector<std::string>{dispatcher, "Benchmark job " + std::to_string(j)})) return 1;
        long long woke = 0;
        if (read(pipefd[0], &woke, sizeof woke) != sizeof woke) return 1;
        d.Wait();
        ms.push_back((woke - start) / 1e6);
        for (const auto& e : fs::directory_iterator(spool)) fs::remove(e.path());  // the next job's pages only
    }
    std::sort(ms.begin(), ms.end());
    std::printf("dispatcher start to wake-up, %d jobs of %d pages: median %.2f ms, p90 %.2f ms, min %.2f ms, max %.2f ms\n",
                jobs, pages, ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.front(), ms.back());

    long sw0 = 0, t0 = 0, sw1 = 0, t1 = 0;
    ProcessCost(waiter, &sw0, &t0);
    sleep(static_cast<unsigned>(idle));
    ProcessCost(waiter, &sw1, &t1);
    std::printf("idle waiter over %d s: %ld wake-ups (voluntary context switches), %ld CPU ticks\n", idle, sw1 - sw0,
                t1 - t0);
    quit->Set();
    waitpid(waiter, nullptr, 0);
    return 0;
}
