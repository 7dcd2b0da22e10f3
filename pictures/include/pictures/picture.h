// Pictures loaded from files, ready to become PDF image or form XObjects.
//
// A file yields one Picture per frame (GIF) or page (TIFF). Raster pictures
// carry their samples already encoded for a PDF stream: JPEG files keep their
// bytes unchanged (DCTDecode), CCITT G4 TIFF strips keep theirs
// (CCITTFaxDecode), everything else is Flate-compressed with PNG predictors
// where that helps. Metafile pictures keep the file's bytes and are drawn as
// vectors by the metafile player.
//
// Nothing here throws: every loader reports failure through LoadResult with a
// description, and a damaged file either fails or yields what could be
// decoded. Loaders never allocate more than kMaxDecodedBytes for one picture's
// samples; JPEG pictures are never decoded, so their size is not limited.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace images {

// Decoding a picture may need at most this many bytes of samples.
inline constexpr std::uint64_t kMaxDecodedBytes = 1ull << 30;

enum class Format : std::uint8_t { Unknown, Jpeg, Png, Gif, Bmp, Tiff, Emf };

// Recognises a format by the file's first bytes (not by its name).
Format Sniff(std::string_view head);
const char* FormatName(Format f);

enum class ColorModel : std::uint8_t { Gray, Rgb, Cmyk, Indexed };

// The parts of a PDF image XObject. `data` is stored unchanged in the stream.
struct PdfImage {
    std::string data;
    std::string filter;       // "DCTDecode", "FlateDecode", "CCITTFaxDecode" or empty
    std::string decodeParms;  // dictionary text or empty
    ColorModel model = ColorModel::Rgb;
    // Indexed: RGB triples of the palette (1..256 entries).
    std::string palette;
    std::string iccProfile;  // raw profile bytes (not for Indexed)
    int bitsPerComponent = 8;
    int width = 0, height = 0;
    std::vector<double> decode;  // /Decode or empty
    std::shared_ptr<const PdfImage> softMask;  // DeviceGray, same placement

    int Components() const;  // of the colour data: 1 (Gray, Indexed), 3 or 4
    // The colour space as PDF object text (without the ICC wrapper):
    // "/DeviceGray", "/DeviceRGB", "/DeviceCMYK", "[/Indexed /DeviceRGB n <..>]".
    std::string ColorSpaceText() const;
};

struct Picture {
    Format format = Format::Unknown;
    // Size as displayed (after the orientation is applied), in pixels.
    int width = 0, height = 0;
    double dpiX = 96, dpiY = 96;  // the file's own, 96 when it has none
    // EXIF orientation 1..8 of the raster in `image` (1: as stored). For
    // 5..8 the stored raster is `height` wide and `width` high.
    int orientation = 1;
    bool vector = false;   // a metafile: `metafile` holds the file's bytes
    PdfImage image;        // raster pictures
    std::shared_ptr<const std::string> metafile;
    std::string note;      // what was repaired or dropped while loading, if anything
};

struct LoadResult {
    bool ok = false;
    std::string error;  // why nothing was loaded
};

// Appends every picture of the file (or of the bytes) to `out`. On failure
// nothing is appended.
LoadResult LoadPictures(const std::string& path, std::vector<Picture>& out);
LoadResult LoadPicturesFromMemory(std::string_view bytes, std::vector<Picture>& out);

// Turns the picture into its negative: colours are inverted through /Decode or
// the palette, the soft mask is kept. Calling it twice restores the picture.
// Metafile pictures are not changed (returns false).
bool Invert(Picture& picture);

// Affine map (PDF order a b c d e f) taking the image's unit square to a box
// of `w` by `h` whose lower-left corner is the origin of a y-up space, with the
// picture's orientation applied.
struct Placement {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};
Placement PlaceInBox(int orientation, double w, double h);

}  // namespace images
