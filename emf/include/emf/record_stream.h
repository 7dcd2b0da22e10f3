// The single append point for metafile records we write, and the writable
// view of a record being rewritten.
//
// RecordStream holds a metafile under construction: every record passes
// through Append(), which checks the record's frame (size at least 8, a
// multiple of 4, equal to its size field, the whole under 4 GB) and counts
// it; CompleteHeader() writes the counts (and the extents) into the header
// record. The recorder (emf/writer.h) builds on it, and code that copies
// another metafile's records with changes (the page slicer) writes through it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "emf/reader.h"
#include "emf/records.h"

namespace emf {

// Writable view of one record's bytes. Reads outside the record give 0 and
// writes outside it change nothing, so a caller that checked a record's size
// with Has() once cannot step outside it later. Values written saturate at
// the field's range instead of wrapping.
class RecordEdit {
public:
    RecordEdit() = default;
    RecordEdit(std::uint8_t* data, std::uint32_t size) : data_(data), size_(size) {}

    std::uint32_t Size() const { return size_; }
    std::uint32_t Type() const { return U32(0); }
    bool Has(std::size_t off, std::size_t len) const { return off <= size_ && len <= size_ - off; }
    RecordView View() const { return {data_, size_}; }

    std::int32_t I32(std::size_t off) const;
    std::uint32_t U32(std::size_t off) const { return static_cast<std::uint32_t>(I32(off)); }
    std::int16_t I16(std::size_t off) const;
    std::uint16_t U16(std::size_t off) const { return static_cast<std::uint16_t>(I16(off)); }

    void Set32(std::size_t off, std::int64_t v);
    void Set16(std::size_t off, std::int64_t v);
    void SetU32(std::size_t off, std::uint32_t v);
    void SetU16(std::size_t off, std::uint16_t v);
    void Set8(std::size_t off, std::uint8_t v);
    void SetRect(std::size_t off, const RectL& r);
    // Moves `len` bytes inside the record (the ranges may overlap); false,
    // changing nothing, when either range lies outside it.
    bool MoveBytes(std::size_t to, std::size_t from, std::size_t len);

private:
    std::uint8_t* data_ = nullptr;
    std::uint32_t size_ = 0;
};

class RecordStream {
public:
    // A position between two records, from Here(); Rewind() takes the
    // stream back to it, dropping the records appended since.
    struct Mark {
        std::size_t bytes = 0;
        std::uint32_t records = 0;
    };

    // Appends a copy of a whole record (type and size included) and returns
    // a view of the copy, valid until the next Append or Rewind. Throws
    // std::invalid_argument when the size field does not match the length,
    // std::logic_error when the record is shorter than 8 bytes or not
    // 4-byte aligned, std::length_error past 4 GB.
    RecordEdit Append(std::span<const std::uint8_t> record);
    // The same for a record given in pieces (its fields, then the data it
    // carries), copied once into the stream: the size field in the first
    // piece counts all of them.
    RecordEdit Append(std::initializer_list<std::span<const std::uint8_t>> pieces);
    // A record made of its type and 32-bit fields (each saturated).
    RecordEdit Append(std::uint32_t type, std::initializer_list<std::int64_t> fields);

    Mark Here() const { return {bytes_.size(), records_}; }
    void Rewind(Mark mark);

    std::uint32_t RecordCount() const { return records_; }
    std::size_t ByteCount() const { return bytes_.size(); }
    std::span<const std::uint8_t> Bytes() const { return bytes_; }
    // The first record; an empty view when there is none.
    RecordEdit First();

    // Writes the byte and record counts into the header record (the first
    // record), and the bounds and frame when given. False, changing nothing,
    // when the first record is not a header of at least 88 bytes.
    bool CompleteHeader(const RectL* bounds = nullptr, const RectL* frame = nullptr);

    // The metafile's bytes; the stream is empty afterwards.
    std::vector<std::uint8_t> Take();

private:
    std::vector<std::uint8_t> bytes_;
    std::uint32_t records_ = 0;
};

}  // namespace emf
