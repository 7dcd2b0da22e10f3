#include "emf/record_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "bytes.h"
#include "emf/layouts.h"

namespace emf {

using namespace detail;

std::int32_t RecordEdit::I32(std::size_t off) const { return Has(off, 4) ? GetI32(data_ + off) : 0; }

std::int16_t RecordEdit::I16(std::size_t off) const {
    return Has(off, 2) ? static_cast<std::int16_t>(GetU16(data_ + off)) : std::int16_t(0);
}

void RecordEdit::Set32(std::size_t off, std::int64_t v) {
    SetU32(off, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::clamp<std::int64_t>(
                    v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()))));
}

void RecordEdit::SetU32(std::size_t off, std::uint32_t v) {
    if (!Has(off, 4)) return;
    data_[off] = std::uint8_t(v), data_[off + 1] = std::uint8_t(v >> 8);
    data_[off + 2] = std::uint8_t(v >> 16), data_[off + 3] = std::uint8_t(v >> 24);
}

void RecordEdit::Set16(std::size_t off, std::int64_t v) {
    SetU16(off, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767))));
}

void RecordEdit::SetU16(std::size_t off, std::uint16_t v) {
    if (!Has(off, 2)) return;
    data_[off] = std::uint8_t(v), data_[off + 1] = std::uint8_t(v >> 8);
}

void RecordEdit::Set8(std::size_t off, std::uint8_t v) {
    if (Has(off, 1)) data_[off] = v;
}

void RecordEdit::SetRect(std::size_t off, const RectL& r) {
    if (!Has(off, 16)) return;
    Set32(off, r.left), Set32(off + 4, r.top), Set32(off + 8, r.right), Set32(off + 12, r.bottom);
}

bool RecordEdit::MoveBytes(std::size_t to, std::size_t from, std::size_t len) {
    if (!Has(to, len) || !Has(from, len)) return false;
    if (len) std::memmove(data_ + to, data_ + from, len);
    return true;
}

RecordEdit RecordStream::Append(std::span<const std::uint8_t> record) {
    return Append(std::initializer_list<std::span<const std::uint8_t>>{record});
}

RecordEdit RecordStream::Append(std::initializer_list<std::span<const std::uint8_t>> pieces) {
    std::size_t size = 0;
    for (const auto& piece : pieces) size += piece.size();
    const std::span<const std::uint8_t> first = pieces.size() ? *pieces.begin() : std::span<const std::uint8_t>();
    if (size >= 8 && (first.size() < 8 || GetU32(first.data() + 4) != size))
        throw std::invalid_argument("record size field does not match its length");
    if (size < 8 || size % 4 != 0)
        throw std::logic_error("metafile record of " + std::to_string(size) + " bytes is not aligned");
    if (bytes_.size() + size > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("metafile larger than 4 GB");
    const std::size_t at = bytes_.size();
    // Room for the whole record at once, growing by half again at least: an
    // exact reserve per record would move the stream for every record.
    if (at + size > bytes_.capacity()) bytes_.reserve(std::max(at + size, bytes_.capacity() + bytes_.capacity() / 2));
    for (const auto& piece : pieces) bytes_.insert(bytes_.end(), piece.begin(), piece.end());
    ++records_;
    return {bytes_.data() + at, static_cast<std::uint32_t>(size)};
}

RecordEdit RecordStream::Append(std::uint32_t type, std::initializer_list<std::int64_t> fields) {
    std::vector<std::uint8_t> rec(8 + 4 * fields.size());
    RecordEdit e(rec.data(), static_cast<std::uint32_t>(rec.size()));
    e.Set32(0, type);
    e.Set32(4, static_cast<std::int64_t>(rec.size()));
    std::size_t at = 8;
    for (std::int64_t v : fields) e.Set32(at, v), at += 4;
    return Append(rec);
}

void RecordStream::Rewind(Mark mark) {
    if (mark.bytes > bytes_.size() || mark.records > records_) throw std::logic_error("rewind past the stream's end");
    bytes_.resize(mark.bytes);
    records_ = mark.records;
}

RecordEdit RecordStream::First() {
    if (bytes_.size() < 8) return {};
    const std::uint32_t size = GetU32(bytes_.data() + 4);
    return {bytes_.data(), std::min<std::uint32_t>(size, static_cast<std::uint32_t>(bytes_.size()))};
}

bool RecordStream::CompleteHeader(const RectL* bounds, const RectL* frame) {
    RecordEdit h = First();
    if (h.Type() != EMR_HEADER || h.Size() < kHeaderMinSize) return false;
    if (bounds) h.SetRect(layout::Header::bounds, *bounds);
    if (frame) h.SetRect(layout::Header::frame, *frame);
    h.SetU32(layout::Header::bytes, static_cast<std::uint32_t>(bytes_.size()));
    h.SetU32(layout::Header::records, records_);
    return true;
}

std::vector<std::uint8_t> RecordStream::Take() {
    records_ = 0;
    return std::move(bytes_);
}

}  // namespace emf
