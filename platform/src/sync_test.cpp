// Runtime folder, named events and mutexes, across threads and processes.
#include "platform/runtime_folder.h"
#include "platform/sync.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace platform;
using platform::testing::ScopedEnv;
using platform::testing::TempDir;

namespace {

class SyncTest : public ::testing::Test {
protected:
    SyncTest() : run_(dir_ / "run"), global_(dir_ / "global") {
        std::filesystem::create_directory(run_);
        chmod(run_.c_str(), 0700);
    }
    TempDir dir_;
    std::string run_, global_;
    ScopedEnv xdg_{"XDG_RUNTIME_DIR", run_};
    ScopedEnv glob_{"VELLUMATE_GLOBAL_DIR", global_};
};

// Runs body in a child process and answers its exit status.
template <class F>
int InChild(F body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(SyncTest, RuntimeFolderIsPrivateAndRefusedOtherwise) {
    std::string error;
    std::string folder = RuntimeFolder(&error);
    ASSERT_EQ(folder, run_ + "/vellumate") << error;
    struct stat sb;
    ASSERT_EQ(stat(folder.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0700u);
    EXPECT_EQ(RuntimeSubfolder("spool"), folder + "/spool");

    chmod(folder.c_str(), 0770);
    EXPECT_EQ(RuntimeFolder(&error), "");
    EXPECT_NE(error.find("can be written by other users"), std::string::npos) << error;
    chmod(folder.c_str(), 0700);

    std::filesystem::remove_all(folder);
    symlink(dir_.path().c_str(), folder.c_str());
    EXPECT_EQ(RuntimeFolder(&error), "");
    EXPECT_NE(error.find("is not a folder"), std::string::npos) << error;
    unlink(folder.c_str());

    if (getuid() == 0) {  // only root can make a folder that belongs to someone else
        mkdir(folder.c_str(), 0700);
        ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
        EXPECT_EQ(RuntimeFolder(&error), "");
        EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
    }
}

TEST_F(SyncTest, EventCreateOpenAndAlreadyExists) {
    bool existed = true;
    auto a = NamedEvent::Create("Vellumate_printevent", true, false, &existed);
    ASSERT_TRUE(a);
    EXPECT_FALSE(existed);
    auto b = NamedEvent::Create("Vellumate_printevent", false, true, &existed);
    ASSERT_TRUE(b);
    EXPECT_TRUE(existed);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(b->IsManualReset());                 // the first creation decides
    EXPECT_EQ(b->Wait(0), WAIT_TIMEOUT);             // and its initial state
    EXPECT_TRUE(NamedEvent::Open("Vellumate_printevent"));
    EXPECT_FALSE(NamedEvent::Open("Nobody_has_this"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // Names with separators stay names; the empty name and very long names are refused.
    EXPECT_TRUE(NamedEvent::Create("a/../b\\c%", true, false));
    EXPECT_FALSE(NamedEvent::Create("", true, false));
    EXPECT_FALSE(NamedEvent::Create(std::string(300, 'x'), true, false));

    // The last handle ends the object: a new one starts afresh.
    a->Set();
    a.reset();
    b.reset();
    EXPECT_FALSE(NamedEvent::Open("Vellumate_printevent"));
    auto c = NamedEvent::Create("Vellumate_printevent", true, false, &existed);
    EXPECT_FALSE(existed);
    EXPECT_EQ(c->Wait(0), WAIT_TIMEOUT);
}

TEST_F(SyncTest, ManualAndAutoResetAndWaitingForSeveral) {
    auto manual = NamedEvent::Create("m", true, false);
    auto autoEv = NamedEvent::Create("a", false, false);
    ASSERT_TRUE(manual && autoEv);
    manual->Set();
    EXPECT_EQ(manual->Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(manual->Wait(0), WAIT_OBJECT_0);  // stays set
    manual->Reset();
    EXPECT_EQ(manual->Wait(10), WAIT_TIMEOUT);
    autoEv->Set();
    EXPECT_EQ(autoEv->Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(autoEv->Wait(0), WAIT_TIMEOUT);  // the wait took it

    NamedEvent* both[] = {manual.get(), autoEv.get()};
    EXPECT_EQ(WaitForMultipleEvents(both, false, 20), WAIT_TIMEOUT);
    autoEv->Set();
    EXPECT_EQ(WaitForMultipleEvents(both, false, 0), WAIT_OBJECT_0 + 1);
    autoEv->Set();
    EXPECT_EQ(WaitForMultipleEvents(both, true, 0), WAIT_TIMEOUT);  // not all set
    manual->Set();
    EXPECT_EQ(WaitForMultipleEvents(both, true, 0), WAIT_OBJECT_0);
    EXPECT_EQ(autoEv->Wait(0), WAIT_TIMEOUT);  // reset with the others
    EXPECT_EQ(manual->Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleEvents({}, false, 0), WAIT_FAILED);
}

TEST_F(SyncTest, ProcessesSetAndWaitOnTheSameEvents) {
    auto print = NamedEvent::Create("Vellumate_printevent", true, false);
    auto kill = NamedEvent::Create("Vellumate_killevent", true, false);
    auto ack = NamedEvent::Create("ack", false, false);
    ASSERT_TRUE(print && kill && ack);
    // The child waits for either event until the kill event, acknowledging
    // each print event; its CPU time shows that waiting does not spin.
    pid_t pid = fork();
    if (pid == 0) {
        auto p = NamedEvent::Open("Vellumate_printevent");
        auto k = NamedEvent::Open("Vellumate_killevent");
        auto a = NamedEvent::Open("ack");
        if (!p || !k || !a) _exit(10);
        NamedEvent* events[] = {p.get(), k.get()};
        int got = 0;
        for (;;) {
            DWORD r = WaitForMultipleEvents(events, false, 20000);  // bounded: never an orphan that waits forever
            if (r == WAIT_OBJECT_0 + 1) break;
            if (r != WAIT_OBJECT_0) _exit(11);
            p->Reset();
            ++got;
            a->Set();
        }
        rusage ru;
        getrusage(RUSAGE_SELF, &ru);
        long cpuMs = ru.ru_utime.tv_sec * 1000 + ru.ru_utime.tv_usec / 1000 + ru.ru_stime.tv_sec * 1000 +
                     ru.ru_stime.tv_usec / 1000;
        _exit(got == 20 && cpuMs < 200 ? 0 : 12);
    }
    for (int i = 0; i < 20; ++i) {
        print->Set();
        ASSERT_EQ(ack->Wait(10000), WAIT_OBJECT_0) << i;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // idle: the child sleeps in poll
    kill->Set();
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SyncTest, GlobalNamesAreSharedInTheGlobalFolder) {
    auto g = NamedEvent::Create("Global\\Vellumate_killevent", true, false);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->Path(), global_ + "/Vellumate_killevent.event");
    struct stat sb;
    ASSERT_EQ(stat(global_.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 07777, 01777u);
    EXPECT_EQ(InChild([] {
                  auto e = NamedEvent::Open("Global\\Vellumate_killevent");
                  return e && e->Set() ? 0 : 1;
              }),
              0);
    EXPECT_EQ(g->Wait(0), WAIT_OBJECT_0);
    // Local and global names do not meet.
    EXPECT_FALSE(NamedEvent::Open("Vellumate_killevent"));
}

TEST_F(SyncTest, MutexOwnershipAcrossThreadsAndProcesses) {
    bool existed = true;
    auto m = NamedMutex::Create("sheet", true, &existed);
    ASSERT_TRUE(m);
    EXPECT_FALSE(existed);
    EXPECT_EQ(m->Wait(0), WAIT_OBJECT_0);  // recursive for the owner
    EXPECT_EQ(InChild([] {
                  bool e = false;
                  auto other = NamedMutex::Create("sheet", false, &e);
                  return other && e && other->Wait(30) == WAIT_TIMEOUT ? 0 : 1;
              }),
              0);
    std::thread t([&] { EXPECT_EQ(m->Wait(30), WAIT_TIMEOUT); });
    t.join();
    EXPECT_TRUE(m->Release());
    EXPECT_TRUE(m->Release());
    EXPECT_FALSE(m->Release());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));

    // A waiting process gets the mutex when the owner lets go, and an owner
    // that dies leaves it free.
    ASSERT_EQ(m->Wait(0), WAIT_OBJECT_0);
    pid_t waiter = fork();
    if (waiter == 0) {
        auto other = NamedMutex::Open("sheet");
        _exit(other && other->Wait(10000) == WAIT_OBJECT_0 ? 0 : 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    m->Release();
    int status = 0;
    waitpid(waiter, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(m->Wait(5000), WAIT_OBJECT_0);
}
