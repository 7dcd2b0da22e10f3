// Writes the seed corpus of the metafile fuzz target: small metafiles that
// reach every record family of the player. Run once; the output is committed.
#include <cstdio>
#include <fstream>
#include <string>

#include "emf/recorder_device.h"
#include "emf/writer.h"

using namespace emf;

static void Save(const std::string& dir, const char* name, const std::vector<std::uint8_t>& b) {
    std::ofstream(dir + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

int main(int argc, char** argv) {
    if (argc != 2) return std::fprintf(stderr, "usage: make_seeds DIR\n"), 2;
    std::string dir = argv[1];
    {  // through the drawing device: paths, text, pictures, clips
        Recorder rec;
        {
            RecorderDevice dev(rec);
            Path p;
            p.MoveTo({1, 2}), p.CubicTo({30, 4}, {5, 60}, {70, 8}), p.LineTo({9, 10}), p.Close();
            Paint paint;
            paint.color = {10, 200, 30, 255};
            dev.FillPath(p, FillRule::EvenOdd, paint, {});
            paint.kind = Paint::Kind::Hatched, paint.hatch = Hatch::Cross, paint.opaqueBackground = true;
            dev.FillPath(p, FillRule::NonZero, paint, Matrix::Translate(10, 10));
            StrokeStyle s;
            s.width = 2, s.dashes = {3, 1};
            dev.StrokePath(p, s, {0, 0, 200, 255}, {});
            dev.PushClip(p, FillRule::NonZero, {});
            TextRun t;
            t.text = u"Vellumate";
            t.advances = {9, 8, 7, 3, 3, 12, 8, 5, 8};
            t.origin = {5, 40};
            t.face = "DejaVu Serif";
            t.angle = 15;
            dev.DrawText(t, {});
            dev.PopClip();
            Image img;
            img.width = 3, img.height = 2, img.pixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9, 200, 200, 200, 1, 2, 3};
            dev.DrawImage(img, Matrix::Scale(30, 20).Then(Matrix::Translate(40, 40)));
            Image rgba = img;
            rgba.format = Image::Format::Rgba8, rgba.components = 4;
            rgba.pixels.assign(24, 128);
            dev.DrawImage(rgba, Matrix::Scale(30, 20));
        }
        Save(dir, "device.emf", rec.Finish());
    }
    {  // the recording DC directly: mapping modes, shapes, regions, 16-bit records
        Recorder rec;
        rec.SetMapMode(MM_ANISOTROPIC);
        rec.SetWindowExtEx(1000, 1000);
        rec.SetViewportExtEx(100, -100);
        rec.SetViewportOrgEx(0, 100);
        rec.SaveDC();
        std::uint32_t pen = rec.ExtCreatePen(PS_GEOMETRIC | PS_DASHDOT | PS_ENDCAP_SQUARE, 20, BS_SOLID, Rgb(1, 2, 3), 0);
        std::uint32_t br = rec.CreateBrushIndirect(BS_HATCHED, Rgb(200, 0, 0), 3);
        rec.SelectObject(pen), rec.SelectObject(br);
        rec.Ellipse({0, 0, 500, 300});
        rec.RoundRect({100, 100, 900, 800}, {100, 100});
        rec.Pie({0, 0, 400, 400}, {400, 200}, {200, 0});
        rec.Chord({0, 0, 400, 400}, {0, 200}, {200, 400});
        rec.Arc({0, 0, 400, 400}, {0, 200}, {200, 400});
        std::vector<PointL> pts{{0, 0}, {100, 900}, {900, 100}, {500, 500}};
        rec.Polygon16(pts), rec.Polyline16(pts), rec.PolyBezier(pts);
        rec.IntersectClipRect({50, 50, 950, 950});
        rec.ExcludeClipRect({400, 400, 600, 600});
        rec.RestoreDC(-1);
        std::vector<RectL> rgn{{0, 0, 10, 10}, {20, 20, 30, 30}};
        rec.ExtSelectClipRgn(rgn, RGN_COPY);
        rec.ExtSelectClipRgn({}, RGN_COPY);
        XForm x{0.8f, 0.6f, -0.6f, 0.8f, 10, 20};
        rec.ModifyWorldTransform(x, MWT_LEFTMULTIPLY);
        LogFont f;
        f.height = -120, f.faceName = u"Liberation Sans", f.escapement = 300;
        rec.SelectObject(rec.ExtCreateFontIndirectW(f));
        std::vector<std::int32_t> dx{60, 60, 60};
        RectL clip{0, 0, 200, 200};
        rec.SetBkMode(BKMODE_OPAQUE);
        rec.SetTextAlign(TA_CENTER | TA_BOTTOM);
        rec.ExtTextOutW(100, 100, ETO_OPAQUE | ETO_CLIPPED, &clip, u"abc", dx);
        std::uint8_t plus[] = {'E', 'M', 'F', '+', 1, 0x40, 0, 0};
        rec.GdiComment(plus);
        Save(dir, "gdi.emf", rec.Finish());
    }
    return 0;
}
