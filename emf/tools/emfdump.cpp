// emfdump FILE [--trace]: lists a metafile's records with their names and
// sizes, then the reader's and the player's diagnostics; --trace also prints
// the drawing calls the player makes. Exit status 0 when the file plays
// without diagnostics, 1 with warnings, 2 when it cannot be read.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "emf/player.h"
#include "emf/trace_device.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: emfdump FILE [--trace]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "emfdump: cannot open %s\n", argv[1]);
        return 2;
    }
    std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    emf::Metafile mf = emf::Read(b);
    std::fputs(emf::Dump(b, mf).c_str(), stdout);
    if (!mf.Usable()) return 2;
    const auto& h = mf.header;
    std::printf("bounds %d %d %d %d, frame %d %d %d %d, device %dx%d px %dx%d mm, %u handles\n", h.bounds.left,
                h.bounds.top, h.bounds.right, h.bounds.bottom, h.frame.left, h.frame.top, h.frame.right, h.frame.bottom,
                h.device.cx, h.device.cy, h.millimeters.cx, h.millimeters.cy, unsigned(h.handles));
    emf::TraceDevice dev;
    emf::PlayResult r = emf::Play(b, mf, dev);
    for (auto& d : r.diagnostics) std::printf("%s\n", d.Text().c_str());
    if (argc > 2 && std::strcmp(argv[2], "--trace") == 0) std::fputs(dev.Text().c_str(), stdout);
    return (mf.diagnostics.empty() && r.diagnostics.empty()) ? 0 : 1;
}
