// Pictures held by the document: loading, measuring, drawing and inverting.
//
// A picture's size is reported in units of its own resolution: the pixels,
// scaled by the (rounded) reported resolution over the file's exact one, so a
// page of that size at that resolution is the picture's physical size.
// Raster pictures become an image XObject the first time they are drawn (one
// per inversion state; drawing again reuses it); metafile pictures are played
// onto the page as vectors every time.
#include <cmath>

#include "pdfcore/picture_encoding.h"
#include "pictures/picture.h"
#include "pdf_document.h"

namespace corvanth {
namespace {

struct Held {
    images::Picture picture;  // as loaded, never inverted in place
    std::string path;         // to load the stream again after it was handed to the document
    std::size_t frame = 0;
    const pdfcore::Document* owner = nullptr;  // document the names below belong to
    std::string names[2];                      // XObject name: plain, inverted
};

std::int32_t Resolution(const images::Picture& p) {
    long r = std::lround(p.dpiX);
    return static_cast<std::int32_t>(std::clamp(r, 1L, 10000L));
}

Held& HeldOf(std::vector<Picture>& pictures, std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= pictures.size() || !pictures[index].payload)
        throw InvalidArgument("no picture " + std::to_string(index));
    return *static_cast<Held*>(pictures[index].payload.get());
}

}  // namespace

HRESULT CPdfDocument::LoadPicture(BSTR path, std::int32_t* lastIndex) {
    return Trap([&] {
        if (!lastIndex) throw Failure(com::E_POINTER, "null result pointer");
        std::string file = com::Utf8FromBstr(path);
        std::vector<images::Picture> loaded;
        images::LoadResult r = images::LoadPictures(file, loaded);
        if (!r.ok) throw Failure(com::E_FAIL, "cannot load the picture " + file + ": " + r.error);
        for (std::size_t i = 0; i < loaded.size(); ++i) {
            auto held = std::make_shared<Held>();
            held->picture = std::move(loaded[i]);
            held->path = file;
            held->frame = i;
            // A metafile is as large as what it shows, which its header may misstate.
            double w = 0, h = 0;
            if (held->picture.vector && held->picture.metafile && MetafileShows(*held->picture.metafile, &w, &h) &&
                w >= 1 && h >= 1 && w < (1 << 24) && h < (1 << 24)) {
                held->picture.width = static_cast<int>(std::lround(w));
                held->picture.height = static_cast<int>(std::lround(h));
            }
            const images::Picture& p = held->picture;
            Picture entry;
            entry.dpi = Resolution(p);
            entry.width = p.width * entry.dpi / p.dpiX;
            entry.height = p.height * entry.dpi / p.dpiY;
            entry.payload = held;
            pictures_.push_back(std::move(entry));
        }
        *lastIndex = static_cast<std::int32_t>(pictures_.size()) - 1;
        return com::S_OK;
    });
}

HRESULT CPdfDocument::get_PictureCount(std::int32_t* n) {
    return Trap([&] {
        if (!n) throw Failure(com::E_POINTER, "null result pointer");
        *n = static_cast<std::int32_t>(pictures_.size());
        return com::S_OK;
    });
}

HRESULT CPdfDocument::GetPictureWidth(std::int32_t index, double* w) {
    return Trap([&] {
        if (!w) throw Failure(com::E_POINTER, "null result pointer");
        HeldOf(pictures_, index);
        *w = pictures_[index].width;
        return com::S_OK;
    });
}

HRESULT CPdfDocument::GetPictureHeight(std::int32_t index, double* h) {
    return Trap([&] {
        if (!h) throw Failure(com::E_POINTER, "null result pointer");
        HeldOf(pictures_, index);
        *h = pictures_[index].height;
        return com::S_OK;
    });
}

HRESULT CPdfDocument::GetPictureResolution(std::int32_t index, std::int32_t* dpi) {
    return Trap([&] {
        if (!dpi) throw Failure(com::E_POINTER, "null result pointer");
        HeldOf(pictures_, index);
        *dpi = pictures_[index].dpi;
        return com::S_OK;
    });
}

HRESULT CPdfDocument::DrawPicture(std::int32_t index, double x, double y) {
    const images::Picture* vector = nullptr;
    double scaleX = 1, scaleY = 1;
    HRESULT hr = Trap([&] {
        RequireBegun();
        Held& held = HeldOf(pictures_, index);
        Picture& entry = pictures_[index];
        const images::Picture& p = held.picture;
        if (p.vector) {
            // One metafile device pixel per page unit at scale 1; the picture
            // covers width x height units.
            vector = &p;
            scaleX = entry.width / std::max(1, p.width);
            scaleY = entry.height / std::max(1, p.height);
            return com::S_OK;
        }
        pdfcore::Document& doc = Doc();
        if (held.owner != &doc) held.owner = &doc, held.names[0].clear(), held.names[1].clear();
        std::string& name = held.names[entry.inverted ? 1 : 0];
        if (name.empty()) {
            images::Picture copy;
            if (!held.picture.image.data.empty()) {
                copy.image = std::move(held.picture.image);
                held.picture.image.data.clear();
            } else {  // the stream went to the document already: read it again
                std::vector<images::Picture> again;
                images::LoadResult r = images::LoadPictures(held.path, again);
                if (!r.ok || again.size() <= held.frame)
                    throw Failure(com::E_FAIL, "cannot read the picture " + held.path + " again");
                copy.image = std::move(again[held.frame].image);
            }
            if (entry.inverted) images::Invert(copy);
            // The first drawing hands the stream over; a second XObject
            // (after an inversion) reads the file again.
            name = doc.AddImage(images::ToEncodedImage(std::move(copy.image)));
        }
        // Image space (unit square, y up) onto the box at (x, y), y down.
        double w = ToPoints(entry.width), h = ToPoints(entry.height);
        images::Placement m = images::PlaceInBox(p.orientation, w, h);
        pdfcore::Matrix place{m.a, m.b, m.c, m.d, m.e, m.f};
        pdfcore::Matrix toPage{1, 0, 0, -1, ToPoints(x), ToPoints(y) + h};
        pdfcore::ContentBuilder& content = CurrentPage().content;
        content.Save();
        content.Concat(place.Then(toPage));
        content.DrawXObject(name);
        content.Restore();
        return com::S_OK;
    });
    if (com::FAILED(hr) || !vector) return hr;
    hr = DrawEmfAny(reinterpret_cast<const std::uint8_t*>(vector->metafile->data()),
                    static_cast<std::uint32_t>(vector->metafile->size()), std::string(), x, y, scaleX, scaleY, 0, true);
    if (com::FAILED(hr) || !pictures_[index].inverted) return hr;
    // A metafile has no samples to invert: white blended by difference over
    // its box turns what was drawn there into its negative.
    return Trap([&] {
        const Picture& entry = pictures_[index];
        pdfcore::ContentBuilder& content = CurrentPage().content;
        content.Save();
        content.SetDifferenceBlend();
        content.SetFillColor({1, 1, 1});
        content.Rectangle(ToPoints(x), ToPoints(y), ToPoints(entry.width), ToPoints(entry.height));
        content.Fill(pdfcore::FillRule::NonZero);
        content.Restore();
        return com::S_OK;
    });
}

HRESULT CPdfDocument::InvertPicture(std::int32_t index) {
    return Trap([&] {
        HeldOf(pictures_, index);
        pictures_[index].inverted = !pictures_[index].inverted;
        return com::S_OK;
    });
}

}  // namespace corvanth
