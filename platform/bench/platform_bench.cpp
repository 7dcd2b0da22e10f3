// Measures the platform services the programs lean on most: one registry
// value read and written, the start-up of `reg query`, and one key read from
// a profile file of 1,000 keys. Prints medians in microseconds.
//
//   platform_bench REG_PROGRAM WORK_FOLDER
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

double MedianMicros(int runs, const std::function<void(int)>& op) {
    std::vector<double> t;
    t.reserve(static_cast<std::size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        auto a = Clock::now();
        op(i);
        t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: platform_bench REG_PROGRAM WORK_FOLDER\n");
        return 1;
    }
    std::string reg = argv[1], work = argv[2];
    setenv("VELLUMATE_REGISTRY", (work + "/registry").c_str(), 1);

    // Warm the hive (open, schema) and fill the key a little.
    for (int i = 0; i < 100; ++i) RegSetDword(HKEY_LOCAL_MACHINE, "Software\\Bench", "v" + std::to_string(i), i);
    double write = MedianMicros(2000, [](int i) {
        if (RegSetDword(HKEY_LOCAL_MACHINE, "Software\\Bench", "Value", static_cast<DWORD>(i))) std::abort();
    });
    double read = MedianMicros(5000, [](int) {
        DWORD d;
        if (RegGetDword(HKEY_LOCAL_MACHINE, "Software\\Bench", "Value", &d)) std::abort();
    });
    HKEY key = nullptr;
    RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Bench", 0, KEY_READ, &key);
    double readOpen = MedianMicros(5000, [key](int) {
        DWORD d, size = sizeof d;
        if (RegQueryValueEx(key, "Value", nullptr, nullptr, reinterpret_cast<BYTE*>(&d), &size)) std::abort();
    });
    RegCloseKey(key);

    double regStart = MedianMicros(30, [&](int) {
        ChildProcess child;
        StartOptions quiet;
        quiet.stdoutPath = "/dev/null";
        if (!child.Start(std::vector<std::string>{reg, "query", "HKLM\\Software\\Bench", "/v", "Value"}, quiet) ||
            !child.Wait() || child.ExitStatus() != 0)
            std::abort();
    });

    std::string ini = work + "/big.ini";
    {
        std::ofstream out(ini);
        for (int s = 0; s < 10; ++s) {
            out << "[Section" << s << "]\n";
            for (int k = 0; k < 100; ++k) out << "Key" << k << "=value of key " << k << " in section " << s << "\n";
        }
    }
    double profileRead = MedianMicros(1000, [&](int i) {
        if (ProfileGetString(ini, "Section9", "Key" + std::to_string(i % 100)).empty()) std::abort();
    });
    double profileWrite = MedianMicros(200, [&](int i) {
        if (!ProfileSetString(ini, "Section5", "Key50", std::to_string(i))) std::abort();
    });

    std::printf("registry write, one DWORD (open, set, close)      %8.1f us\n", write);
    std::printf("registry read, one DWORD (open, query, close)     %8.1f us\n", read);
    std::printf("registry read, one DWORD on an open key           %8.1f us\n", readOpen);
    std::printf("reg query start-up to exit                        %8.1f us\n", regStart);
    std::printf("profile read, one key of a 1,000-key file         %8.1f us\n", profileRead);
    std::printf("profile write, one key of a 1,000-key file        %8.1f us\n", profileWrite);
    return 0;
}
