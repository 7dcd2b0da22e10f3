// Picture decoding for the layout: SVG documents.
#include "pictures.h"

#include <gtest/gtest.h>

namespace htmlengine {
namespace {

#ifdef VM_HAVE_RSVG
const std::uint8_t* Pixel(const emf::Image& im, int x, int y) {
    return &im.pixels[(static_cast<std::size_t>(y) * im.width + x) * 4];
}

TEST(SvgPictures, DrawnAtTheirOwnSizeWithTransparency) {
    auto im = DecodePicture(
        "<?xml version='1.0'?>\n<svg xmlns='http://www.w3.org/2000/svg' width='20' height='10'>"
        "<rect x='0' y='0' width='10' height='10' fill='#ff0000'/></svg>");
    ASSERT_TRUE(im);
    EXPECT_EQ(im->width, 20);
    EXPECT_EQ(im->height, 10);
    ASSERT_EQ(im->format, emf::Image::Format::Rgba8);
    const std::uint8_t* red = Pixel(*im, 5, 5);
    EXPECT_EQ(red[0], 255);
    EXPECT_EQ(red[1], 0);
    EXPECT_EQ(red[3], 255);
    EXPECT_EQ(Pixel(*im, 15, 5)[3], 0);  // outside the rectangle: transparent

    // No size of its own: the default box.
    auto unsized = DecodePicture("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 4 2'><circle r='1'/></svg>");
    ASSERT_TRUE(unsized);
    EXPECT_EQ(unsized->width, 300);
    EXPECT_EQ(unsized->height, 150);
}

TEST(SvgPictures, BrokenOrHugeDocumentsAreRefused) {
    EXPECT_FALSE(DecodePicture("<svg xmlns='http://www.w3.org/2000/svg'><rect"));
    EXPECT_FALSE(DecodePicture("<svg xmlns='http://www.w3.org/2000/svg' width='100000' height='100000'/>"));
    EXPECT_FALSE(DecodePicture("<svg xmlns='http://www.w3.org/2000/svg' width='4000' height='4000'/>", 1000));
}
#else
TEST(SvgPictures, NotBuilt) { GTEST_SKIP() << "built without librsvg"; }
#endif

}  // namespace
}  // namespace htmlengine
