// Field offsets of the records, counted from the start of the record (its
// type at 0, its size at 4). A reader checks every field against the
// record's size before use (RecordView does), since producers write records
// shorter or longer than these layouts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "emf/records.h"

namespace emf::layout {

// Records that start with their bounds (inclusive, device pixels).
constexpr std::size_t kBounds = 8;

// HEADER: bounds (device pixels), frame (0.01 mm), signature, version, bytes,
// records, handles (16 bits), reserved, description, palette, reference device.
struct Header {
    static constexpr std::size_t bounds = 8, frame = 24, signature = 40, version = 44, bytes = 48, records = 52,
                                 handles = 56;
};

// POLYGON, POLYLINE, POLYBEZIER(TO), POLYLINETO and their 16-bit forms:
// bounds, count, points (8 bytes each, or 4 in the 16-bit forms).
struct Poly {
    static constexpr std::size_t count = 24, points = 28;
};
// POLYPOLYGON, POLYPOLYLINE (and 16-bit): bounds, polygons, total points,
// one count per polygon, then the points.
struct PolyPoly {
    static constexpr std::size_t polygons = 24, total = 28, counts = 32;
};

// EXTTEXTOUTA/W: bounds, graphics mode, x/y scales, then the text object:
// reference point, character count, string offset, options, clipping
// rectangle (absent with ETO_NO_RECT, which moves offDx to 56), advances offset.
struct ExtTextOut {
    static constexpr std::size_t graphicsMode = 24, exScale = 28, eyScale = 32, reference = 36, chars = 44,
                                 offString = 48, options = 52, rect = 56, offDx = 72, offDxNoRect = 56;
};

// EXTCREATEFONTINDIRECTW: handle, then the font request (height, width,
// escapement, orientation, weight, 8 one-byte fields, 32 UTF-16 face units).
struct ExtCreateFont {
    static constexpr std::size_t handle = 8, height = 12, width = 16, escapement = 20, orientation = 24, weight = 28,
                                 italic = 32, charSet = 35, faceName = 40;
};

// EXTCREATEPEN: handle, brush bitmap (offset/size pairs), style, width,
// brush style, colour, hatch, dash count, dashes.
struct ExtCreatePen {
    static constexpr std::size_t handle = 8, offBmi = 12, style = 28, width = 32, brushStyle = 36, color = 40,
                                 hatch = 44, dashCount = 48, dashes = 52;
};

// BITBLT, STRETCHBLT, MASKBLT, ALPHABLEND, TRANSPARENTBLT: bounds, destination
// x, y, cx, cy, raster operation (ALPHABLEND: blend function; TRANSPARENTBLT:
// key colour), source x, y, source transform, background colour, colour
// usage, bitmap (offBmi, cbBmi, offBits, cbBits). STRETCHBLT, ALPHABLEND and
// TRANSPARENTBLT then give the source size; MASKBLT the mask.
struct Blt {
    static constexpr std::size_t xDest = 24, yDest = 28, cxDest = 32, cyDest = 36, rop = 40, xSrc = 44, ySrc = 48,
                                 xformSrc = 52, bkColorSrc = 76, usageSrc = 80, offBmiSrc = 84, cbBmiSrc = 88,
                                 offBitsSrc = 92, cbBitsSrc = 96, cxSrc = 100, cySrc = 104;
    // MASKBLT only.
    static constexpr std::size_t xMask = 100, yMask = 104, usageMask = 108, offBmiMask = 112, cbBmiMask = 116;
};
// PLGBLT: bounds, three destination corners (upper-left, upper-right,
// lower-left), source rectangle, source transform, background colour, usage,
// bitmap, mask.
struct PlgBlt {
    static constexpr std::size_t corners = 24, xSrc = 48, ySrc = 52, cxSrc = 56, cySrc = 60, usageSrc = 92,
                                 offBmiSrc = 96, cbBmiSrc = 100, offBitsSrc = 104, cbBitsSrc = 108;
};
// SETDIBITSTODEVICE: bounds, destination x, y, source x, y, cx, cy, bitmap,
// usage, first scan line, scan line count.
struct SetDIBitsToDevice {
    static constexpr std::size_t xDest = 24, yDest = 28, xSrc = 32, ySrc = 36, cxSrc = 40, cySrc = 44, offBmiSrc = 48,
                                 cbBmiSrc = 52, offBitsSrc = 56, cbBitsSrc = 60, usageSrc = 64, startScan = 68,
                                 scans = 72;
};
// STRETCHDIBITS: bounds, destination x, y, source x, y, cx, cy, bitmap,
// usage, raster operation, destination cx, cy.
struct StretchDIBits {
    static constexpr std::size_t xDest = 24, yDest = 28, xSrc = 32, ySrc = 36, cxSrc = 40, cySrc = 44, offBmiSrc = 48,
                                 cbBmiSrc = 52, offBitsSrc = 56, cbBitsSrc = 60, usageSrc = 64, rop = 68, cxDest = 72,
                                 cyDest = 76;
};

// The fields every record that carries a bitmap has in some place, for code
// that treats the blits alike (cropping a picture at a page edge): the
// smallest size that holds them, the destination point and height, the
// source row and height and the bitmap. -1 where a record has no such field
// (PLGBLT gives three corners instead of a destination point: 0 there).
struct BitmapFields {
    std::size_t minSize;
    std::size_t xDest, yDest;
    std::ptrdiff_t cxDest, cyDest;
    std::ptrdiff_t ySrc, cySrc;
    std::size_t offBmi, cbBmi, offBits, cbBits;
};
constexpr BitmapFields kBitBltFields{kBitBltSize, Blt::xDest, Blt::yDest, Blt::cxDest, Blt::cyDest, Blt::ySrc, -1,
                                     Blt::offBmiSrc, Blt::cbBmiSrc, Blt::offBitsSrc, Blt::cbBitsSrc};
// STRETCHBLT, TRANSPARENTBLT and ALPHABLEND.
constexpr BitmapFields kStretchBltFields{kStretchBltSize, Blt::xDest, Blt::yDest, Blt::cxDest, Blt::cyDest, Blt::ySrc,
                                         Blt::cySrc, Blt::offBmiSrc, Blt::cbBmiSrc, Blt::offBitsSrc, Blt::cbBitsSrc};
constexpr BitmapFields kMaskBltFields{kMaskBltSize, Blt::xDest, Blt::yDest, Blt::cxDest, Blt::cyDest, Blt::ySrc, -1,
                                      Blt::offBmiSrc, Blt::cbBmiSrc, Blt::offBitsSrc, Blt::cbBitsSrc};
constexpr BitmapFields kPlgBltFields{kPlgBltSize, 0, 0, -1, -1, PlgBlt::ySrc, PlgBlt::cySrc,
                                     PlgBlt::offBmiSrc, PlgBlt::cbBmiSrc, PlgBlt::offBitsSrc, PlgBlt::cbBitsSrc};
constexpr BitmapFields kSetDIBitsToDeviceFields{
    kSetDIBitsToDeviceSize, SetDIBitsToDevice::xDest, SetDIBitsToDevice::yDest, -1, -1, SetDIBitsToDevice::ySrc, SetDIBitsToDevice::cySrc,
    SetDIBitsToDevice::offBmiSrc, SetDIBitsToDevice::cbBmiSrc, SetDIBitsToDevice::offBitsSrc,
    SetDIBitsToDevice::cbBitsSrc};
constexpr BitmapFields kStretchDIBitsFields{
    kStretchDIBitsSize, StretchDIBits::xDest, StretchDIBits::yDest, StretchDIBits::cxDest, StretchDIBits::cyDest, StretchDIBits::ySrc,
    StretchDIBits::cySrc, StretchDIBits::offBmiSrc, StretchDIBits::cbBmiSrc, StretchDIBits::offBitsSrc,
    StretchDIBits::cbBitsSrc};

// BITMAPINFOHEADER, from the start of the bitmap information.
struct BitmapInfoHeader {
    static constexpr std::size_t size = 0, width = 4, height = 8, planes = 12, bitCount = 14, compression = 16,
                                 sizeImage = 20;
};

// Region records: where the region data size and the data are.
struct Region {
    static constexpr std::size_t clipSize = 8, clipMode = 12, clipData = 16;    // EXTSELECTCLIPRGN
    static constexpr std::size_t size = 24, brush = 28, fillData = 32;           // FILLRGN
    static constexpr std::size_t frameWidth = 32, frameHeight = 36, frameData = 40;  // FRAMERGN
    static constexpr std::size_t paintData = 28;                                 // PAINTRGN, INVERTRGN
    // Inside the region data: header size, type, rectangle count, bytes, bounds; then the rectangles.
    static constexpr std::size_t headerSize = 32, count = 8;
};

}  // namespace emf::layout
