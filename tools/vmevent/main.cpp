// vmevent: the pipeline's named events from the shell.
//
//   vmevent set NAME            sets an event some process holds (the agent's kill event, say)
//   vmevent reset NAME          resets it
//   vmevent wait NAME [MS]      holds the event (creating it manual-reset when nobody does)
//                               and waits until it is set, or MS milliseconds
//
// Exit status 0 when done (wait: signalled), 1 when the event does not
// exist (set, reset) or the wait timed out, 2 on a usage or system error.
#include "platform/sync.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace platform;

namespace {

int Usage() {
    std::fprintf(stderr, "usage: vmevent set|reset NAME\n       vmevent wait NAME [MILLISECONDS]\n");
    return 2;
}

int Fail(const char* what, const char* name) {
    DWORD e = GetLastError();
    std::fprintf(stderr, "vmevent: %s %s: %s\n", what, name, FormatSystemMessage(e).c_str());
    return e == static_cast<DWORD>(ERROR_FILE_NOT_FOUND) ? 1 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) return Usage();
    std::string cmd = argv[1];
    const char* name = argv[2];
    if ((cmd == "set" || cmd == "reset") && argc == 3) {
        auto e = NamedEvent::Open(name);
        if (!e) return Fail("cannot open", name);
        if (!(cmd == "set" ? e->Set() : e->Reset())) return Fail("cannot change", name);
        return 0;
    }
    if (cmd != "wait") return Usage();
    DWORD timeout = INFINITE;
    if (argc == 4) {
        char* end = nullptr;
        unsigned long ms = std::strtoul(argv[3], &end, 10);
        if (!*argv[3] || *end || ms >= INFINITE) return Usage();
        timeout = static_cast<DWORD>(ms);
    }
    auto e = NamedEvent::Create(name, true, false);
    if (!e) return Fail("cannot create", name);
    DWORD r = e->Wait(timeout);
    if (r == WAIT_OBJECT_0) return 0;
    if (r == static_cast<DWORD>(WAIT_TIMEOUT)) return 1;
    return Fail("cannot wait on", name);
}
