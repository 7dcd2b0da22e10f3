// Reading metafiles from untrusted bytes.
//
// Read() splits a buffer into records and checks every record's frame: size
// at least 8, a multiple of 4, inside the buffer. It never reads outside the
// buffer and always ends (each step moves forward by at least 8 bytes).
// Damage is reported as diagnostics with the byte position of the record;
// in the default (lenient) mode the records before the damage stay usable.
// Fields inside a record are read through RecordView, whose accessors fail
// instead of reading past the record's end.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "emf/records.h"

namespace emf {

struct Diagnostic {
    enum class Severity : std::uint8_t { Warning, Error };
    Severity severity = Severity::Warning;
    std::size_t offset = 0;       // byte position of the record in the buffer
    std::size_t index = 0;        // record number, the header being 0
    std::uint32_t type = 0;       // record type, 0 when unknown
    std::string message;
    // "warning: record 12 (EMR_POLYGON) at offset 0x1a4: <message>"
    std::string Text() const;
};

// Checked view of one record's bytes (type and size included).
class RecordView {
public:
    RecordView() = default;
    RecordView(const std::uint8_t* data, std::uint32_t size) : data_(data), size_(size) {}
    std::uint32_t Type() const;
    std::uint32_t Size() const { return size_; }
    const std::uint8_t* Data() const { return data_; }

    // Each returns false (leaving `v` alone) when the field lies outside the record.
    bool U32(std::size_t off, std::uint32_t& v) const;
    bool I32(std::size_t off, std::int32_t& v) const;
    bool U16(std::size_t off, std::uint16_t& v) const;
    bool I16(std::size_t off, std::int16_t& v) const;
    bool F32(std::size_t off, float& v) const;
    bool Rect(std::size_t off, RectL& v) const;
    bool Point(std::size_t off, PointL& v) const;
    // `count` elements of `elemSize` bytes from `off`; the product is checked
    // for overflow and must fit inside the record.
    bool Array(std::size_t off, std::uint64_t count, std::size_t elemSize, std::span<const std::uint8_t>& out) const;
    // `size` bytes at `off` given by offset/size fields of the record itself.
    bool Slice(std::uint64_t off, std::uint64_t size, std::span<const std::uint8_t>& out) const;

private:
    const std::uint8_t* data_ = nullptr;
    std::uint32_t size_ = 0;
};

struct Record {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    std::size_t offset = 0;  // in the buffer
    RecordView View(std::span<const std::uint8_t> buffer) const { return {buffer.data() + offset, size}; }
};

enum class ReadStatus : std::uint8_t {
    Ok,             // read to the end-of-file record (warnings may still be present)
    Damaged,        // lenient mode: damage found, the records before it are usable
    NotMetafile,    // no valid header record
    Failed,         // strict mode: the first damage ends the read
};

struct ReadOptions {
    bool strict = false;  // any warning fails the read
    std::size_t maxRecords = 50'000'000;
};

// The records of a buffer. The buffer is not copied: `records` point into it.
struct Metafile {
    ReadStatus status = ReadStatus::NotMetafile;
    Header header;
    std::vector<Record> records;  // header first; end-of-file record last when present
    std::vector<Diagnostic> diagnostics;
    bool Usable() const { return status == ReadStatus::Ok || status == ReadStatus::Damaged; }
};

Metafile Read(std::span<const std::uint8_t> bytes, const ReadOptions& options = {});

// The header record alone (for sizes and frames), with the same checks.
std::optional<Header> ReadHeader(std::span<const std::uint8_t> bytes, std::string* error = nullptr);

// One line per record: offset, name, size (for dumps and tests).
std::string Dump(std::span<const std::uint8_t> bytes, const Metafile&);

}  // namespace emf
