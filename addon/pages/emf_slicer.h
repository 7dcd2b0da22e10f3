// Cuts a page image (one metafile as tall as the whole document) into page
// slices: complete metafiles whose records are the source's records moved up
// by the slice's top, with what lies wholly outside left out, shapes and
// bitmaps crossing the edges cut back, and text lines crossing the bottom edge
// pushed to the next slice. Forced page breaks end a slice early.
//
// The source bytes are untrusted: every record is checked (size, counts,
// offsets) before it is read or rewritten; a record that does not hold what
// its type needs is dropped with a warning in the log.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "addon/common/event_log.h"
#include "emf/reader.h"

namespace tessaline {

// A record visitor: the per-record callback of a metafile enumeration
// (default: 0) and the handling of one record (default: not handled).
class IEnumEMF {
public:
    virtual ~IEnumEMF() = default;
    virtual int EnumRecord(const std::uint8_t* record, std::uint32_t size) {
        (void)record, (void)size;
        return 0;
    }
    virtual bool HandleRecord(const std::uint8_t* record, std::uint32_t size) {
        (void)record, (void)size;
        return false;
    }
};

class CEmfSlicer : public IEnumEMF {
public:
    // log is borrowed and outlives the slicer.
    explicit CEmfSlicer(EventLog& log);
    ~CEmfSlicer() override;
    CEmfSlicer(const CEmfSlicer&) = delete;
    CEmfSlicer& operator=(const CEmfSlicer&) = delete;

    // Break positions in source pixels, ascending; borrowed (may be null).
    void SetPageBreaks(const std::vector<std::int32_t>* breaks);
    // Values <= 0 are ignored; otherwise the slices are produced again when
    // a source is set.
    void SetSliceHeight(int height);
    void SetSliceWidth(int width);
    // Called before each slice is cut while SetSourceImage works: a client
    // with windows on this thread runs them there. Empty: nothing.
    void SetBetweenSlices(std::function<void()> call) { betweenSlices_ = std::move(call); }
    // Borrowed: the bytes must outlive the slicer, or ReleaseSource(). Produces the slices.
    void SetSourceImage(std::span<const std::uint8_t> emf);
    // The slices made are kept, the source is no longer read: its bytes may
    // go, and later size changes no longer produce slices again.
    void ReleaseSource();

    int SliceCount() const { return static_cast<int>(slices_.size()); }
    // Null for an index out of range. With a debug file name the slice is
    // first written to that file. The bytes stay owned by the slicer and
    // hold until the next GetSlice (the slices of a long image are kept
    // compressed, one is unpacked at a time).
    const std::vector<std::uint8_t>* GetSlice(int index, const std::string& debugFile = {}) const;
    // Source extent of slice `index`: [top, end), end being the next slice's top.
    bool SliceRange(int index, int* top, int* end) const;
    // Source position of the bottom of the lowest text line or picture that
    // slice `index` shows; -1 when it shows none (or out of range).
    int ContentBottom(int index) const;
    double HorizontalScale() const { return scale_; }

    // Processes one source record into the slice being built.
    bool HandleRecord(const std::uint8_t* record, std::uint32_t size) override;

private:
    class RecordParser;
    void ProduceSlices();
    void IndexTextLines();
    int CutBack(int top, int h) const;
    bool BuildSlice(int top, int h, int sourceW, int cutBack, std::vector<std::uint8_t>* out);

    LogSource log_;
    const std::vector<std::int32_t>* breaks_ = nullptr;
    int sliceHeight_ = 842;
    int sliceWidth_ = 595;
    double scale_ = 1.0;
    std::span<const std::uint8_t> source_;
    std::function<void()> betweenSlices_;
    bool haveSource_ = false;
    // Each slice's bytes, compressed when packed_ (a long source).
    std::vector<std::vector<std::uint8_t>> slices_;
    bool packed_ = false;
    mutable std::vector<std::uint8_t> unpacked_;
    mutable int unpackedIndex_ = -1;
    std::vector<std::pair<int, int>> ranges_;
    std::vector<int> contentBottoms_;

    // State of the slice being built.
    std::vector<emf::Record> records_;  // of the source, for one production
    // Vertical extent of the records that are left out of a slice they lie
    // wholly outside of (known false for the others).
    struct Extent {
        bool known = false;
        std::int64_t top = 0, bottom = 0;
    };
    std::vector<Extent> extents_;
    // Top and bottom of every text line with bounds, by top: the lines a
    // slice cuts through are found without reading every record again.
    std::vector<std::pair<std::int64_t, std::int64_t>> textLines_;
    std::size_t recordOffset_ = 0;
    std::unique_ptr<RecordParser> parser_;
};

}  // namespace tessaline
