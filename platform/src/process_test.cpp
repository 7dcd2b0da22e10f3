#include "platform/process.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

using namespace platform;
using platform::testing::TempDir;

TEST(Process, StartsFromTextAndReadsTheExitStatusBack) {
    EXPECT_EQ(RunProgram("sh -c \"exit 3\"", true), 3);
    EXPECT_EQ(RunProgram("sh -c \"exit 255\"", true), 255);  // a result of -1
    EXPECT_EQ(RunProgram("true", true), 0);
    std::string err;
    EXPECT_EQ(RunProgram("/nonexistent/program arg", true, &err), -1);
    EXPECT_NE(err.find("not found"), std::string::npos);
    EXPECT_EQ(RunProgram("   ", true, &err), -1);
}

TEST(Process, ArgumentsArriveSplitByTheWindowsRules) {
    TempDir dir;
    std::string out = dir / "args.txt";
    std::ofstream(dir / "args.sh") << "printf '%s|' \"$@\" > \"" << out << "\"\n";
    ASSERT_EQ(RunProgram("sh \"" + (dir / "args.sh") + "\" \"a b\" \"\" c", true), 0);
    std::ifstream in(out);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "a b||c|");
}

TEST(Process, WaitWithTimeoutAndWorkingFolder) {
    TempDir dir;
    ChildProcess child;
    StartOptions opts;
    opts.workingFolder = dir.path();
    ASSERT_TRUE(child.Start(std::vector<std::string>{"sh", "-c", "touch here; sleep 5"}, opts));
    EXPECT_FALSE(child.Wait(50));
    EXPECT_TRUE(child.Running());
    // Let the child get as far as its file before it is stopped.
    for (int i = 0; i < 1000 && !std::filesystem::exists(dir / "here"); ++i) usleep(10000);
    child.Terminate();
    ASSERT_TRUE(child.Wait());
    EXPECT_EQ(child.ExitStatus(), 128 + 15);
    EXPECT_TRUE(std::filesystem::exists(dir / "here"));

    ChildProcess bad;
    std::string err;
    opts.workingFolder = dir / "missing";
    EXPECT_FALSE(bad.Start(std::vector<std::string>{"true"}, opts, &err));
    EXPECT_FALSE(err.empty());
}

TEST(Process, StandardStreamsToFiles) {
    TempDir dir;
    std::ofstream(dir / "in.txt") << "from a file\n";
    StartOptions opts;
    opts.stdinPath = dir / "in.txt";
    opts.stdoutPath = dir / "out.txt";
    opts.stderrPath = "/dev/null";
    ChildProcess child;
    ASSERT_TRUE(child.Start(std::vector<std::string>{"sh", "-c", "cat; echo oops >&2"}, opts));
    ASSERT_TRUE(child.Wait());
    std::ifstream in(dir / "out.txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "from a file\n");
    opts.stdinPath = dir / "missing.txt";
    std::string err;
    EXPECT_FALSE(child.Start(std::vector<std::string>{"cat"}, opts, &err));
}

TEST(Process, AChildTiedToItsCallerEndsWithTheStartingThreadInAGroupOfItsOwn) {
    // The thread stands for a caller that ends (or is killed) without
    // ending its child: the child must not outlive it.
    ChildProcess tied, free;
    StartOptions opts;
    opts.ownProcessGroup = true;
    opts.endWithCaller = true;
    std::thread([&] {
        ASSERT_TRUE(tied.Start(std::vector<std::string>{"sleep", "600"}, opts));
        EXPECT_EQ(getpgid(tied.Pid()), tied.Pid());
        ASSERT_TRUE(free.Start(std::vector<std::string>{"sleep", "600"}));
        EXPECT_EQ(getpgid(free.Pid()), getpgrp());
    }).join();
    ASSERT_TRUE(tied.Wait(60000));
    EXPECT_EQ(tied.ExitStatus(), 128 + 9);
    EXPECT_TRUE(free.Running());
    free.Terminate(true);
    EXPECT_TRUE(free.Wait());
}

// A mask line ("SigIgn:", "SigBlk:") of /proc/PID/status.
unsigned long long SignalMask(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::strtoull(line.c_str() + field.size(), nullptr, 16);
    return ~0ULL;
}

void NoteSignal(int) {}

TEST(Process, TheChildStartsWithDefaultSignalsButThoseTheCallerIgnoresAndNoneBlocked) {
    // The caller ignores SIGPIPE (for its pipes) and SIGUSR2, handles
    // SIGUSR1 and blocks SIGTERM; its own settings stay as they are.
    struct sigaction ignore {}, handle {}, oldPipe {}, oldUsr1 {}, oldUsr2 {};
    ignore.sa_handler = SIG_IGN;
    handle.sa_handler = NoteSignal;
    sigaction(SIGPIPE, &ignore, &oldPipe);
    sigaction(SIGUSR2, &ignore, &oldUsr2);
    sigaction(SIGUSR1, &handle, &oldUsr1);
    sigset_t term, oldMask;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &oldMask);

    ChildProcess child;
    ASSERT_TRUE(child.Start(std::vector<std::string>{"sleep", "600"}));
    // Start returns once the program runs: its dispositions are final.
    const unsigned long long ignored = SignalMask(child.Pid(), "SigIgn:");
    EXPECT_EQ(ignored & (1ULL << (SIGPIPE - 1)), 0u);
    EXPECT_NE(ignored & (1ULL << (SIGUSR2 - 1)), 0u);
    EXPECT_EQ(ignored & (1ULL << (SIGUSR1 - 1)), 0u);
    EXPECT_EQ(SignalMask(child.Pid(), "SigBlk:"), 0u);
    child.Terminate(true);
    EXPECT_TRUE(child.Wait());

    struct sigaction now {};
    sigaction(SIGUSR1, nullptr, &now);
    EXPECT_EQ(now.sa_handler, NoteSignal);
    sigaction(SIGPIPE, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_TRUE(sigismember(&mask, SIGTERM));
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    sigaction(SIGPIPE, &oldPipe, nullptr);
    sigaction(SIGUSR1, &oldUsr1, nullptr);
    sigaction(SIGUSR2, &oldUsr2, nullptr);
}

TEST(Process, ExitStatusIsTheResultModulo256) {
    EXPECT_EQ(ExitStatusOf(0), 0);
    EXPECT_EQ(ExitStatusOf(-1), 255);
    EXPECT_EQ(ExitStatusOf(-6), 250);
    EXPECT_EQ(ExitStatusOf(-100), 156);
    EXPECT_EQ(ExitStatusOf(300), 44);
}

TEST(Process, FindProgramSearchesPath) {
    EXPECT_FALSE(FindProgram("sh").empty());
    EXPECT_EQ(FindProgram("no-such-program-vm"), "");
    EXPECT_EQ(FindProgram("/bin/sh"), "/bin/sh");
    EXPECT_EQ(FindProgram("/tmp"), "");  // a folder is no program
}
