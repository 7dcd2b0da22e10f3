// poppler's output-device interface turned into calls of our drawing device:
// the PDF interpreter walks a page and this class says each path, glyph,
// picture and clip again to an emf::Device (the metafile recorder, for pages
// that become metafiles).
//
// Glyphs that follow each other on one baseline in one font, size and colour
// become one text run with the advance of every character; a run ends before
// anything else is drawn, so the drawing order stays. Shadings EMF cannot say
// become a picture of the area they fill, at the page's resolution; so does
// what a soft mask, a blend mode or a knockout group touches, drawn by an
// AreaPainter as the page looks there. A soft mask that is one grey picture
// (a blurred shadow) over solid fills needs no painter: each fill becomes a
// picture of its colour with the mask as its alpha, clipped to its path.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <poppler/OutputDev.h>

#include "emf/device.h"
#include "page_fonts.h"
#include "picture_cache.h"

namespace pagedraw {

struct DrawLimits {
    std::size_t maxImagePixels = std::size_t(1) << 24;  // larger pictures are thinned out
    std::size_t maxShadingPixels = std::size_t(1) << 22;
    // Pictures standing in for what the metafile cannot say take at most
    // this share of the device resolution.
    double pictureScale = 1;
    // Pixels of all the pictures a page's masked fills become; past them
    // each takes a few only.
    std::size_t maxMaskedPixels = std::size_t(1) << 24;
};

// The page as it looks in an area (device pixels at the page's resolution,
// drawn at `scale` of it), for what a metafile cannot say.
using AreaPainter = std::function<std::optional<emf::Image>(int x, int y, int w, int h, double scale)>;

class EmfOutputDev : public OutputDev {
public:
    // All are borrowed and must outlive this object. With `pictures`, image
    // objects decoded for one page are drawn again from there on the next.
    EmfOutputDev(emf::Device& device, PageFonts& fonts, const DrawLimits& limits = {},
                 PictureCache* pictures = nullptr);
    ~EmfOutputDev() override;

    bool upsideDown() override { return true; }
    bool useDrawChar() override { return true; }
    bool interpretType3Chars() override { return true; }
    bool useShadedFills(int type) override { return type >= 1 && type <= 3; }
    bool needClipToCropBox() override { return true; }

    // Soft masks, blend modes other than normal and the groups they need
    // become a picture of their area by `painter`; without one they are
    // drawn as if there were none.
    void SetAreaPainter(AreaPainter painter);

    void startPage(int pageNum, GfxState* state, XRef* xref) override;
    void endPage() override;
    void saveState(GfxState* state) override;
    void restoreState(GfxState* state) override;

    void stroke(GfxState* state) override;
    void fill(GfxState* state) override;
    void eoFill(GfxState* state) override;
    void clip(GfxState* state) override;
    void eoClip(GfxState* state) override;
    void clipToStrokePath(GfxState* state) override;

    bool axialShadedFill(GfxState* state, GfxAxialShading* shading, double tMin, double tMax) override;
    bool radialShadedFill(GfxState* state, GfxRadialShading* shading, double sMin, double sMax) override;
    bool functionShadedFill(GfxState* state, GfxFunctionShading* shading) override;

    void updateBlendMode(GfxState* state) override;
    void beginTransparencyGroup(GfxState* state, const double* bbox, GfxColorSpace* blendingColorSpace, bool isolated,
                                bool knockout, bool forSoftMask) override;
    void endTransparencyGroup(GfxState* state) override;
    void paintTransparencyGroup(GfxState* state, const double* bbox) override;
    void setSoftMask(GfxState* state, const double* bbox, bool alpha, Function* transferFunc,
                     GfxColor* backdropColor) override;
    void clearSoftMask(GfxState* state) override;

    void drawChar(GfxState* state, double x, double y, double dx, double dy, double originX, double originY,
                  CharCode code, int nBytes, const Unicode* u, int uLen) override;
    bool beginType3Char(GfxState* state, double x, double y, double dx, double dy, CharCode code, const Unicode* u,
                        int uLen) override;
    void endTextObject(GfxState* state) override;

    void drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert,
                       bool interpolate, bool inlineImg) override;
    void drawImage(GfxState* state, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                   bool interpolate, const int* maskColors, bool inlineImg) override;
    void drawMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                         GfxImageColorMap* colorMap, bool interpolate, Stream* maskStr, int maskWidth,
                         int maskHeight, bool maskInvert, bool maskInterpolate) override;
    void drawSoftMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                             GfxImageColorMap* colorMap, bool interpolate, Stream* maskStr, int maskWidth,
                             int maskHeight, GfxImageColorMap* maskColorMap, bool maskInterpolate) override;

private:
    struct Members;
    std::unique_ptr<Members> m_;
};

}  // namespace pagedraw
