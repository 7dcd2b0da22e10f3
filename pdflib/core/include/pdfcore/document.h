// The document model behind the PDF document object: pages with their content,
// fonts, images and forms, link annotations, actions, destinations, outlines,
// document information, viewer settings and protection; Write() streams it
// into a PDF file.
//
// Lengths are points; page positions are top-down (origin top-left, y down),
// as in content.h. Ownership: the Document owns everything it hands out by
// reference or pointer; those stay valid until the Document dies, except that
// Page references move when pages are added (hold indexes, not references).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pdfcore/content.h"
#include "pdfcore/fonts.h"

namespace pdfcore {

// An image stream that is already encoded (JPEG bytes, Flate-compressed
// samples with a predictor, ...). The writer stores `data` unchanged.
struct EncodedImage {
    std::string data;
    std::string filter;       // "DCTDecode", "FlateDecode", ... or empty (raw samples)
    std::string decodeParms;  // PDF dictionary text ("<< /Predictor 15 /Columns 40 /Colors 3 >>") or empty
    // PDF object text of the colour space: "/DeviceRGB", "/DeviceGray",
    // "/DeviceCMYK", "[/Indexed /DeviceRGB 1 <000000FFFFFF>]". With an ICC
    // profile it is the /Alternate of the /ICCBased space.
    std::string colorSpace = "/DeviceRGB";
    std::string iccProfile;  // raw profile bytes or empty
    int iccComponents = 0;   // /N of the profile (1, 3 or 4)
    int bitsPerComponent = 8;
    int width = 0, height = 0;
    std::vector<double> decode;  // /Decode array or empty
    bool imageMask = false;      // a stencil mask (1 bit, no colour space)
    bool interpolate = false;
    // Optional /SMask: a DeviceGray image of the same placement.
    std::shared_ptr<const EncodedImage> softMask;
};

struct Rect {
    double left = 0, top = 0, right = 0, bottom = 0;  // points, top-down
};

struct Action {
    enum class Kind : std::uint8_t { GoTo, Uri, JavaScript } kind = Kind::GoTo;
    int page = 0;     // GoTo: 0-based page index
    double top = 0;   // GoTo: points from the top of that page
    std::string text; // Uri: the address; JavaScript: the script (UTF-8)
};

struct Link {
    Rect rect;
    int action = 0;       // id of an Action (>= 1), or 0
    int destination = 0;  // id of a destination (>= 1), or 0
};

struct Page {
    double width = 595.2756, height = 841.8898;  // points
    int rotation = 0;                            // 0, 90, 180, 270
    // Finished content streams, then the one being written. Finished ones
    // live in the document's spool file (already Flate-compressed when
    // `compressed`), not in memory.
    struct Segment {
        std::uint64_t offset = 0, length = 0;
        bool compressed = false;
    };
    std::vector<Segment> finished;
    ContentBuilder content;
    std::vector<Link> links;
};

struct Outline {
    std::string title;  // UTF-8
    int action = 0;     // 0: none
    bool open = false;
    int parent = -1;
    std::vector<int> children;  // ids in order
};

struct Settings {
    bool compress = false;
    int pdfVersion = 1;  // 0 = 1.3, 1 = 1.4
    int pageLayout = 1;  // 0 single page, 1 one column, 2 two columns left, 3 right
    int pageMode = 0;    // 0 none, 1 outlines, 2 thumbnails, 3 full screen
    int fontEmbedding = 2;  // 2 embedded subsets, 3 no font program
    std::string author, subject, title, keywords;  // UTF-8
    // Creation date as broken-down local time plus its offset from UTC in
    // minutes; unset: the time of writing.
    struct Date {
        int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
        int utcOffsetMinutes = 0;
    };
    std::optional<Date> creationDate;
    bool hideToolBar = false, hideMenuBar = false, hideWindowUI = false, fitWindow = false,
         centerWindow = false;
    bool encrypt = false;
    bool key128 = false;
    std::string userPassword, ownerPassword;  // UTF-8
    bool allowCopy = true, allowModify = true, allowPrint = true;
    // Fixed /ID, dates and subset tags, so that equal input gives equal bytes.
    bool deterministic = false;
};

class Document {
public:
    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    Settings& GetSettings();
    FontCache& Fonts();

    // ---- pages
    int AddPage(double width, double height);  // returns its index
    int PageCount() const;
    Page& GetPage(int index);  // index must be valid
    // Closes the content being written on a page into a finished segment
    // (compressing it when settings say so) and moves it out of memory into
    // the spool file, an unnamed file in the temporary folder that goes away
    // with the Document on every path. Cheap to call often. Throws
    // std::runtime_error when the spool cannot be written.
    void FinishPageContent(int index);

    // ---- images and forms: each returns the resource name to draw with
    // ContentBuilder::DrawXObject ("Im1", "Fm1"); the page resources are made
    // from the names a page's content used.
    std::string AddImage(EncodedImage image);
    // The same picture drawn again (on this page or any other) is stored
    // once: `digest` identifies what the image is made from (a strong hash of
    // its samples and their form, see ImageDigest), and an image added before
    // with that digest answers its name. `encode` runs only for a new one;
    // when it gives no data, nothing is added and the name is "".
    std::string AddImage(const std::string& digest, const std::function<EncodedImage()>& encode);
    // A form XObject: content in its own space, clipped to bbox; `matrix` maps
    // that space into the space of whoever draws it.
    std::string AddForm(ContentBuilder content, const Rect& bbox, const Matrix& matrix);

    // ---- actions, destinations, outlines (ids >= 1 / >= 0)
    int AddAction(Action action);
    bool HasAction(int id) const;
    int AddDestination(int page, double top);  // returns id >= 1
    bool HasDestination(int id) const;
    // New outline as the next sibling of `after` (-1: last at top level).
    int AddOutlineAfter(int after, std::string title, int action);
    // New outline as the first child of `parent` (-1: first at top level).
    int AddOutlineFirstChild(int parent, std::string title, int action);
    int OutlineCount() const;
    Outline& GetOutline(int id);

    // Writes the whole file: into a temporary file beside `path`, synced and
    // then renamed over it. Throws std::runtime_error (with a description) on
    // failure; the temporary file is removed then and `path` is untouched.
    void Write(const std::string& path);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The standard sizes (in points) of the paper-size indexes 0..19 of the
// document settings; portrait. False for an index outside the table.
bool PaperSizePoints(int index, double* width, double* height);

// SHA-256 over the parts given, each preceded by its length: a key for
// AddImage that no two different pictures share.
std::string ImageDigest(std::initializer_list<std::string_view> parts);

}  // namespace pdfcore
