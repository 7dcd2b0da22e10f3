// Record types, constants and fixed layouts of the enhanced-metafile format.
// All multi-byte values in a metafile are little-endian; every record starts
// with its type and its size in bytes (a multiple of 4, at least 8).
#pragma once

#include <cstdint>
#include <string>

namespace emf {

enum RecordType : std::uint32_t {
    EMR_HEADER = 1, EMR_POLYBEZIER = 2, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5,
    EMR_POLYLINETO = 6, EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_SETWINDOWEXTEX = 9,
    EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETVIEWPORTORGEX = 12, EMR_SETBRUSHORGEX = 13,
    EMR_EOF = 14, EMR_SETPIXELV = 15, EMR_SETMAPPERFLAGS = 16, EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18,
    EMR_SETPOLYFILLMODE = 19, EMR_SETROP2 = 20, EMR_SETSTRETCHBLTMODE = 21, EMR_SETTEXTALIGN = 22,
    EMR_SETCOLORADJUSTMENT = 23, EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25, EMR_OFFSETCLIPRGN = 26,
    EMR_MOVETOEX = 27, EMR_SETMETARGN = 28, EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT = 30,
    EMR_SCALEVIEWPORTEXTEX = 31, EMR_SCALEWINDOWEXTEX = 32, EMR_SAVEDC = 33, EMR_RESTOREDC = 34,
    EMR_SETWORLDTRANSFORM = 35, EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38,
    EMR_CREATEBRUSHINDIRECT = 39, EMR_DELETEOBJECT = 40, EMR_ANGLEARC = 41, EMR_ELLIPSE = 42,
    EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44, EMR_ARC = 45, EMR_CHORD = 46, EMR_PIE = 47,
    EMR_SELECTPALETTE = 48, EMR_CREATEPALETTE = 49, EMR_SETPALETTEENTRIES = 50, EMR_RESIZEPALETTE = 51,
    EMR_REALIZEPALETTE = 52, EMR_EXTFLOODFILL = 53, EMR_LINETO = 54, EMR_ARCTO = 55, EMR_POLYDRAW = 56,
    EMR_SETARCDIRECTION = 57, EMR_SETMITERLIMIT = 58, EMR_BEGINPATH = 59, EMR_ENDPATH = 60,
    EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62, EMR_STROKEANDFILLPATH = 63, EMR_STROKEPATH = 64,
    EMR_FLATTENPATH = 65, EMR_WIDENPATH = 66, EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH = 68,
    EMR_GDICOMMENT = 70, EMR_FILLRGN = 71, EMR_FRAMERGN = 72, EMR_INVERTRGN = 73, EMR_PAINTRGN = 74,
    EMR_EXTSELECTCLIPRGN = 75, EMR_BITBLT = 76, EMR_STRETCHBLT = 77, EMR_MASKBLT = 78, EMR_PLGBLT = 79,
    EMR_SETDIBITSTODEVICE = 80, EMR_STRETCHDIBITS = 81, EMR_EXTCREATEFONTINDIRECTW = 82,
    EMR_EXTTEXTOUTA = 83, EMR_EXTTEXTOUTW = 84, EMR_POLYBEZIER16 = 85, EMR_POLYGON16 = 86,
    EMR_POLYLINE16 = 87, EMR_POLYBEZIERTO16 = 88, EMR_POLYLINETO16 = 89, EMR_POLYPOLYLINE16 = 90,
    EMR_POLYPOLYGON16 = 91, EMR_POLYDRAW16 = 92, EMR_CREATEMONOBRUSH = 93, EMR_CREATEDIBPATTERNBRUSHPT = 94,
    EMR_EXTCREATEPEN = 95, EMR_POLYTEXTOUTA = 96, EMR_POLYTEXTOUTW = 97, EMR_SETICMMODE = 98,
    EMR_CREATECOLORSPACE = 99, EMR_SETCOLORSPACE = 100, EMR_DELETECOLORSPACE = 101, EMR_GLSRECORD = 102,
    EMR_GLSBOUNDEDRECORD = 103, EMR_PIXELFORMAT = 104, EMR_DRAWESCAPE = 105, EMR_EXTESCAPE = 106,
    EMR_SMALLTEXTOUT = 108, EMR_FORCEUFIMAPPING = 109, EMR_NAMEDESCAPE = 110, EMR_COLORCORRECTPALETTE = 111,
    EMR_SETICMPROFILEA = 112, EMR_SETICMPROFILEW = 113, EMR_ALPHABLEND = 114, EMR_SETLAYOUT = 115,
    EMR_TRANSPARENTBLT = 116, EMR_GRADIENTFILL = 118, EMR_SETLINKEDUFIS = 119,
    EMR_SETTEXTJUSTIFICATION = 120, EMR_COLORMATCHTOTARGETW = 121, EMR_CREATECOLORSPACEW = 122,
};
constexpr std::uint32_t kMaxRecordType = 122;

// "EMR_LINETO" for 54; "EMR_UNKNOWN_<n>" for numbers outside the table.
std::string RecordName(std::uint32_t type);

constexpr std::uint32_t kSignature = 0x464D4520;  // " EMF"
constexpr std::uint32_t kEmfPlusComment = 0x2B464D45;  // "EMF+" at the start of a comment's data
constexpr std::uint32_t kHeaderMinSize = 88;
constexpr std::uint32_t kHeaderExt1Size = 100;
constexpr std::uint32_t kHeaderExt2Size = 108;

// Mapping modes.
enum : std::uint32_t {
    MM_TEXT = 1, MM_LOMETRIC = 2, MM_HIMETRIC = 3, MM_LOENGLISH = 4, MM_HIENGLISH = 5, MM_TWIPS = 6,
    MM_ISOTROPIC = 7, MM_ANISOTROPIC = 8
};
// World-transform modes.
enum : std::uint32_t { MWT_IDENTITY = 1, MWT_LEFTMULTIPLY = 2, MWT_RIGHTMULTIPLY = 3, MWT_SET = 4 };
// Background modes and polygon fill modes.
enum : std::uint32_t { BKMODE_TRANSPARENT = 1, BKMODE_OPAQUE = 2 };
enum : std::uint32_t { ALTERNATE = 1, WINDING = 2 };
// Arc directions.
enum : std::uint32_t { AD_COUNTERCLOCKWISE = 1, AD_CLOCKWISE = 2 };
// Region combination modes.
enum : std::uint32_t { RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5 };
// Text alignment bits.
enum : std::uint32_t {
    TA_NOUPDATECP = 0, TA_UPDATECP = 1, TA_LEFT = 0, TA_RIGHT = 2, TA_CENTER = 6, TA_TOP = 0, TA_BOTTOM = 8,
    TA_BASELINE = 24, TA_RTLREADING = 256
};
// Text output options.
enum : std::uint32_t {
    ETO_OPAQUE = 0x2, ETO_CLIPPED = 0x4, ETO_GLYPH_INDEX = 0x10, ETO_RTLREADING = 0x80, ETO_NO_RECT = 0x100,
    ETO_PDY = 0x2000
};
// Pen styles.
enum : std::uint32_t {
    PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5, PS_INSIDEFRAME = 6,
    PS_USERSTYLE = 7, PS_ALTERNATE = 8, PS_STYLE_MASK = 0xF, PS_ENDCAP_ROUND = 0, PS_ENDCAP_SQUARE = 0x100,
    PS_ENDCAP_FLAT = 0x200, PS_ENDCAP_MASK = 0xF00, PS_JOIN_ROUND = 0, PS_JOIN_BEVEL = 0x1000,
    PS_JOIN_MITER = 0x2000, PS_JOIN_MASK = 0xF000, PS_COSMETIC = 0, PS_GEOMETRIC = 0x10000,
    PS_TYPE_MASK = 0xF0000
};
// Brush styles.
enum : std::uint32_t {
    BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2, BS_PATTERN = 3, BS_DIBPATTERN = 5, BS_DIBPATTERNPT = 6
};
// Stock objects, as selected with the high bit set.
constexpr std::uint32_t kStockObject = 0x80000000;
enum : std::uint32_t {
    WHITE_BRUSH = 0, LTGRAY_BRUSH = 1, GRAY_BRUSH = 2, DKGRAY_BRUSH = 3, BLACK_BRUSH = 4, NULL_BRUSH = 5,
    WHITE_PEN = 6, BLACK_PEN = 7, NULL_PEN = 8, OEM_FIXED_FONT = 10, ANSI_FIXED_FONT = 11, ANSI_VAR_FONT = 12,
    SYSTEM_FONT = 13, DEVICE_DEFAULT_FONT = 14, DEFAULT_PALETTE = 15, SYSTEM_FIXED_FONT = 16,
    DEFAULT_GUI_FONT = 17, DC_BRUSH = 18, DC_PEN = 19
};
// Raster operations the player tells apart.
enum : std::uint32_t {
    SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086, SRCAND = 0x008800C6, SRCINVERT = 0x00660046,
    PATCOPY = 0x00F00021, BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062, DSTINVERT = 0x00550009,
    NOP_ROP = 0x00AA0029
};
// Bitmap compressions and colour-table usage.
enum : std::uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_JPEG = 4, BI_PNG = 5 };
enum : std::uint32_t { DIB_RGB_COLORS = 0, DIB_PAL_COLORS = 1 };
// Path point types of POLYDRAW.
enum : std::uint8_t { PT_CLOSEFIGURE = 1, PT_LINETO = 2, PT_BEZIERTO = 4, PT_MOVETO = 6 };
constexpr std::uint32_t AC_SRC_ALPHA = 1;

// Fixed sizes of the records the writer, reader and player share.
constexpr std::uint32_t kExtTextOutHeaderSize = 76;  // up to and including offDx
constexpr std::uint32_t kLogFontWSize = 92;
constexpr std::uint32_t kBitBltSize = 100, kStretchBltSize = 108, kMaskBltSize = 128, kPlgBltSize = 140;
constexpr std::uint32_t kSetDIBitsToDeviceSize = 76, kStretchDIBitsSize = 80;
constexpr std::uint32_t kBitmapInfoHeaderSize = 40;

struct RectL {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const RectL&, const RectL&) = default;
};
struct SizeL {
    std::int32_t cx = 0, cy = 0;
    friend bool operator==(const SizeL&, const SizeL&) = default;
};
struct PointL {
    std::int32_t x = 0, y = 0;
    friend bool operator==(const PointL&, const PointL&) = default;
};
// A 2-D transform as metafiles store it: x' = m11 x + m21 y + dx, y' = m12 x + m22 y + dy.
struct XForm {
    float m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
    friend bool operator==(const XForm&, const XForm&) = default;
};

// The header record's fields.
struct Header {
    RectL bounds;          // inclusive, device pixels
    RectL frame;           // inclusive, 0.01 mm
    std::uint32_t version = 0x10000;
    std::uint32_t bytes = 0;
    std::uint32_t records = 0;
    std::uint16_t handles = 1;
    std::uint32_t palEntries = 0;
    SizeL device;          // reference device, pixels
    SizeL millimeters;     // reference device, mm
    SizeL micrometers;     // when the header holds it (size >= 108), else 0
    std::u16string description;
    std::uint32_t size = kHeaderMinSize;  // of the header record
};

// The font request of EXTCREATEFONTINDIRECTW.
struct LogFont {
    std::int32_t height = 0;  // < 0: em height; > 0: cell height
    std::int32_t width = 0, escapement = 0, orientation = 0, weight = 400;
    std::uint8_t italic = 0, underline = 0, strikeOut = 0, charSet = 1;
    std::uint8_t outPrecision = 0, clipPrecision = 0, quality = 0, pitchAndFamily = 0;
    std::u16string faceName;  // at most 31 code units are kept
};

}  // namespace emf
