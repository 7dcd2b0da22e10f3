// What a browser (or anything posing as one) writes to the host: a stream of
// length-prefixed messages, each read and parsed as a request. A request the
// parser accepts must hold an address the converter may be given.
#include "native_messaging.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

int FuzzHostStream(const std::uint8_t* data, std::size_t size) {
    int fd = memfd_create("navlet-fuzz", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return 0;
    }
    std::string body, url, why;
    for (;;) {
        navlet::ReadResult r = navlet::ReadMessage(fd, &body, 4096);
        if (r == navlet::ReadResult::End) break;
        if (r == navlet::ReadResult::Message && navlet::ParseRequest(body, &url, &why) &&
            !navlet::AcceptableAddress(url, &why))
            std::abort();
    }
    close(fd);
    return 0;
}

#ifdef VM_FUZZ_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return FuzzHostStream(data, size); }
#endif
