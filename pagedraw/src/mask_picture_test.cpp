// Masked fills cut into pictures: what can show is covered, the rest left out.
#include "mask_picture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pagedraw {
namespace {

emf::Image Gray(int w, int h, std::uint8_t value) {
    emf::Image m;
    m.format = emf::Image::Format::Gray8, m.components = 1, m.width = w, m.height = h;
    m.pixels.assign(std::size_t(w) * std::size_t(h), value);
    return m;
}

Outline Rects(std::initializer_list<emf::Rect> rects, bool evenOdd) {
    emf::Path p;
    for (const emf::Rect& r : rects) p.AddRect(r);
    return OutlineOf(p, {}, evenOdd);
}

// The alpha the pictures give device pixel (x, y) at its centre, -1 where none covers it.
int AlphaAt(const std::vector<PlacedPicture>& pics, double x, double y) {
    int found = -1;
    for (const PlacedPicture& p : pics) {
        if (x < p.box.left || x >= p.box.right || y < p.box.top || y >= p.box.bottom) continue;
        const int c = int((x - p.box.left) / (p.box.right - p.box.left) * p.picture.width);
        const int r = int((y - p.box.top) / (p.box.bottom - p.box.top) * p.picture.height);
        EXPECT_EQ(found, -1) << "pictures overlap at " << x << "," << y;
        found = p.picture.pixels[(std::size_t(r) * p.picture.width + c) * 4 + 3];
    }
    return found;
}

std::size_t PixelsOf(const std::vector<PlacedPicture>& pics) {
    std::size_t n = 0;
    for (const PlacedPicture& p : pics) n += std::size_t(p.picture.width) * p.picture.height;
    return n;
}

// A shadow's ring: the box (10..90, 10..40) is clipped out of the mask
// (0..100, 0..50). Four pictures cover the ring with the fill's colour, and
// hardly more than the ring's pixels.
TEST(MaskPicture, AShadowsRingBecomesItsFourSidesAndNothingInside) {
    const emf::Image mask = Gray(100, 50, 255);
    MaskedFill f;
    f.mask = &mask;
    f.place = {100, 0, 0, 50, 0, 0};
    f.bounds = {0, 0, 1000, 1000};
    f.color = {200, 10, 20, 255};
    const auto pics = PictureMaskedFill(f, {Rects({{0, 0, 100, 50}}, false), Rects({{0, 0, 100, 50}, {10, 10, 90, 40}}, true)});
    ASSERT_EQ(pics.size(), 4u);
    for (const PlacedPicture& p : pics) {
        ASSERT_EQ(p.picture.format, emf::Image::Format::Rgba8);
        EXPECT_EQ(p.picture.pixels[0], 200);
        EXPECT_EQ(p.picture.pixels[2], 20);
    }
    for (double y = 0.5; y < 50; y += 1)
        for (double x = 0.5; x < 100; x += 1) {
            const bool ring = x < 10 || x > 90 || y < 10 || y > 40;
            if (ring) {
                EXPECT_EQ(AlphaAt(pics, x, y), 255) << x << "," << y;
            } else if (x > 12 && x < 88 && y > 12 && y < 38) {
                EXPECT_LT(AlphaAt(pics, x, y), 1) << x << "," << y;
            }
        }
    EXPECT_LT(PixelsOf(pics), std::size_t(5000 - 76 * 26));
}

// The fill's opacity scales the mask; a flipped placement turns the mask's
// rows over; a coarser step averages it; a mask of zeros shows nothing.
TEST(MaskPicture, OpacityFlipsAndCoarserPixelsKeepTheMasksValues) {
    emf::Image mask = Gray(1, 4, 0);
    mask.pixels = {0, 80, 160, 240};  // top row first
    MaskedFill f;
    f.mask = &mask;
    f.bounds = {0, 0, 100, 100};
    f.place = {10, 0, 0, -40, 0, 40};  // upside down: the top row at the bottom (y 30..40)
    f.opacity = 0.5;
    auto pics = PictureMaskedFill(f, {});
    EXPECT_LT(AlphaAt(pics, 5, 35), 1);  // no picture where the mask is 0
    EXPECT_EQ(AlphaAt(pics, 5, 25), 40);
    EXPECT_EQ(AlphaAt(pics, 5, 15), 80);
    EXPECT_EQ(AlphaAt(pics, 5, 5), 120);

    f.place = {10, 0, 0, 40, 0, 0}, f.opacity = 1, f.minStep = 20;  // two mask rows a picture row
    pics = PictureMaskedFill(f, {});
    EXPECT_EQ(AlphaAt(pics, 5, 10), 40);
    EXPECT_EQ(AlphaAt(pics, 5, 30), 200);

    const emf::Image none = Gray(10, 10, 0);
    f.mask = &none;
    EXPECT_TRUE(PictureMaskedFill(f, {}).empty());
}

// However large the mask and the area, the pictures keep to their pixels;
// a region of curves (a round box) is covered where it shows.
TEST(MaskPicture, PixelsStayWithinTheBoundAndCurvesAreCovered) {
    const emf::Image mask = Gray(4000, 4000, 255);
    MaskedFill f;
    f.mask = &mask;
    f.place = {4000, 0, 0, 4000, 0, 0};
    f.bounds = {0, 0, 4000, 4000};
    f.maxPixels = 10000;
    const auto pics = PictureMaskedFill(f, {});
    EXPECT_LE(PixelsOf(pics), 10000u);
    EXPECT_EQ(AlphaAt(pics, 3999, 3999), 255);

    // A circle of radius 40 around (50, 50), as four curves.
    const double k = 40 * 0.5523;
    emf::Path circle;
    circle.MoveTo({90, 50});
    circle.CubicTo({90, 50 + k}, {50 + k, 90}, {50, 90});
    circle.CubicTo({50 - k, 90}, {10, 50 + k}, {10, 50});
    circle.CubicTo({10, 50 - k}, {50 - k, 10}, {50, 10});
    circle.CubicTo({50 + k, 10}, {90, 50 - k}, {90, 50});
    circle.Close();
    const emf::Image small = Gray(100, 100, 255);
    f.mask = &small, f.place = {100, 0, 0, 100, 0, 0}, f.bounds = {0, 0, 100, 100}, f.maxPixels = 1 << 20;
    const auto round = PictureMaskedFill(f, {OutlineOf(circle, {}, false)});
    for (double a = 0; a < 6.28; a += 0.05) {
        const double x = 50 + 39.5 * std::cos(a), y = 50 + 39.5 * std::sin(a);
        EXPECT_EQ(AlphaAt(round, x, y), 255) << x << "," << y;
    }
    EXPECT_LT(AlphaAt(round, 3, 3), 1);
}

}  // namespace
}  // namespace pagedraw
