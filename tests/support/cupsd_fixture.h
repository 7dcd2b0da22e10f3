// A private print service for one test (see cupsd-fixture.sh): started in
// the constructor, stopped in the destructor, with CUPS_SERVER and
// CUPS_SERVERROOT pointing at it meanwhile (for this process and the
// programs it starts).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace vmtest {

class PrivateCupsd {
public:
    // defaultPage: the queue's default size; "" starts the service without
    // any queue.
    explicit PrivateCupsd(const std::string& defaultPage = "A4") {
        char tmpl[] = "/tmp/vmcups-XXXXXX";
        if (!mkdtemp(tmpl)) return;
        dir_ = tmpl;
        std::string cmd = std::string("'") + VM_TEST_SUPPORT_DIR + "/cupsd-fixture.sh' " +
                          (defaultPage.empty() ? "start-empty '" + dir_ + "'" : "start '" + dir_ + "' " + defaultPage) +
                          " >/dev/null";
        started_ = std::system(cmd.c_str()) == 0;
        Export("CUPS_SERVER", dir_ + "/cups.sock", &oldServer_);
        Export("CUPS_SERVERROOT", dir_, &oldRoot_);
    }
    ~PrivateCupsd() {
        if (!dir_.empty()) {
            std::string cmd = std::string("'") + VM_TEST_SUPPORT_DIR + "/cupsd-fixture.sh' stop '" + dir_ + "'";
            if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not stop the test cupsd\n");
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
        Restore("CUPS_SERVER", oldServer_);
        Restore("CUPS_SERVERROOT", oldRoot_);
    }
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;

    bool Started() const { return started_; }
    const std::string& Folder() const { return dir_; }
    std::string Socket() const { return dir_ + "/cups.sock"; }

private:
    static void Export(const char* name, const std::string& value, std::string* old) {
        const char* v = getenv(name);
        *old = v ? std::string("=") + v : std::string();
        setenv(name, value.c_str(), 1);
    }
    static void Restore(const char* name, const std::string& old) {
        if (old.empty())
            unsetenv(name);
        else
            setenv(name, old.c_str() + 1, 1);
    }
    std::string dir_;
    bool started_ = false;
    std::string oldServer_, oldRoot_;
};

}  // namespace vmtest
