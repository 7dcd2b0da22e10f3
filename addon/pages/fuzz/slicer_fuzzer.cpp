// Fuzz target: slicing arbitrary bytes as a page image. The first two bytes
// choose the slice height and width, so that small and wide slices, cut-back
// and bitmap cropping are all reached; every slice made must read back as a
// sound metafile.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "addon/common/event_log.h"
#include "emf/reader.h"
#include "addon/pages/emf_slicer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int height = 8 + data[0] * 4;
    const int width = 8 + data[1] * 4;
    std::span<const std::uint8_t> image(data + 2, size - 2);
    tessaline::EventLog log;
    std::vector<std::int32_t> breaks{height / 3, height * 2};
    tessaline::CEmfSlicer slicer(log);
    slicer.SetPageBreaks(&breaks);
    slicer.SetSliceHeight(height);
    slicer.SetSliceWidth(width);
    slicer.SetSourceImage(image);
    int previous = -1;
    for (int i = 0; i < slicer.SliceCount(); ++i) {
        const std::vector<std::uint8_t>* slice = slicer.GetSlice(i);
        if (!slice) std::abort();
        emf::Metafile mf = emf::Read(*slice);
        if (!mf.Usable()) std::abort();
        int top = 0, end = 0;
        // The slicing always advances.
        if (!slicer.SliceRange(i, &top, &end) || end <= top || top <= previous) std::abort();
        previous = top;
    }
    return 0;
}
