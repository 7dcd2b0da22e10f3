#include "emf/reader.h"

#include <cstdio>

#include "bytes.h"

namespace emf {

using namespace detail;

std::string Diagnostic::Text() const {
    char pos[64];
    std::snprintf(pos, sizeof pos, " at offset 0x%zx: ", offset);
    return std::string(severity == Severity::Error ? "error" : "warning") + ": record " + std::to_string(index) + " (" +
           (type ? RecordName(type) : std::string("?")) + ")" + pos + message;
}

std::uint32_t RecordView::Type() const { return size_ >= 4 ? GetU32(data_) : 0; }

bool RecordView::U32(std::size_t off, std::uint32_t& v) const {
    if (off > size_ || size_ - off < 4) return false;
    v = GetU32(data_ + off);
    return true;
}
bool RecordView::I32(std::size_t off, std::int32_t& v) const {
    std::uint32_t u;
    if (!U32(off, u)) return false;
    v = std::int32_t(u);
    return true;
}
bool RecordView::U16(std::size_t off, std::uint16_t& v) const {
    if (off > size_ || size_ - off < 2) return false;
    v = GetU16(data_ + off);
    return true;
}
bool RecordView::I16(std::size_t off, std::int16_t& v) const {
    std::uint16_t u;
    if (!U16(off, u)) return false;
    v = std::int16_t(u);
    return true;
}
bool RecordView::F32(std::size_t off, float& v) const {
    if (off > size_ || size_ - off < 4) return false;
    v = GetF32(data_ + off);
    return true;
}
bool RecordView::Rect(std::size_t off, RectL& r) const {
    if (off > size_ || size_ - off < 16) return false;
    r = {GetI32(data_ + off), GetI32(data_ + off + 4), GetI32(data_ + off + 8), GetI32(data_ + off + 12)};
    return true;
}
bool RecordView::Point(std::size_t off, PointL& p) const {
    if (off > size_ || size_ - off < 8) return false;
    p = {GetI32(data_ + off), GetI32(data_ + off + 4)};
    return true;
}
bool RecordView::Array(std::size_t off, std::uint64_t count, std::size_t elemSize,
                       std::span<const std::uint8_t>& out) const {
    if (off > size_) return false;
    if (elemSize && count > (size_ - off) / elemSize) return false;
    out = {data_ + off, std::size_t(count * elemSize)};
    return true;
}
bool RecordView::Slice(std::uint64_t off, std::uint64_t size, std::span<const std::uint8_t>& out) const {
    if (off > size_ || size > size_ - off) return false;
    out = {data_ + off, std::size_t(size)};
    return true;
}

namespace {

bool ParseHeader(std::span<const std::uint8_t> bytes, Header& h, std::string& error, std::vector<std::string>& warnings) {
    if (bytes.size() < kHeaderMinSize) return error = "shorter than a metafile header", false;
    const std::uint8_t* p = bytes.data();
    if (GetU32(p) != EMR_HEADER) return error = "the first record is not a header", false;
    const std::uint32_t size = GetU32(p + 4);
    if (size < kHeaderMinSize || size % 4 != 0 || size > bytes.size())
        return error = "header record size " + std::to_string(size) + " is invalid", false;
    if (GetU32(p + 40) != kSignature) return error = "no metafile signature", false;
    RecordView v(p, size);
    h = Header{};
    h.size = size;
    v.Rect(8, h.bounds), v.Rect(24, h.frame);
    v.U32(44, h.version), v.U32(48, h.bytes), v.U32(52, h.records), v.U16(56, h.handles);
    std::uint32_t nDesc = 0, offDesc = 0;
    v.U32(60, nDesc), v.U32(64, offDesc), v.U32(68, h.palEntries);
    v.I32(72, h.device.cx), v.I32(76, h.device.cy), v.I32(80, h.millimeters.cx), v.I32(84, h.millimeters.cy);
    if (size >= kHeaderExt2Size) {
        // The optional extensions are only present when the description does not start inside them.
        if (offDesc == 0 || offDesc >= kHeaderExt2Size) {
            v.I32(100, h.micrometers.cx), v.I32(104, h.micrometers.cy);
        }
    }
    if (nDesc != 0) {
        std::span<const std::uint8_t> d;
        if (offDesc < kHeaderMinSize || !v.Slice(offDesc, std::uint64_t(nDesc) * 2, d)) {
            warnings.push_back("description outside the header record");
        } else {
            for (std::size_t i = 0; i + 1 < d.size(); i += 2) h.description += char16_t(GetU16(d.data() + i));
        }
    }
    if (h.device.cx <= 0 || h.device.cy <= 0 || h.millimeters.cx <= 0 || h.millimeters.cy <= 0)
        warnings.push_back("reference device size is not positive");
    return true;
}

}  // namespace

std::optional<Header> ReadHeader(std::span<const std::uint8_t> bytes, std::string* error) {
    Header h;
    std::string e;
    std::vector<std::string> w;
    if (!ParseHeader(bytes, h, e, w)) {
        if (error) *error = e;
        return std::nullopt;
    }
    return h;
}

Metafile Read(std::span<const std::uint8_t> bytes, const ReadOptions& options) {
    Metafile mf;
    std::string error;
    std::vector<std::string> headerWarnings;
    auto diag = [&](Diagnostic::Severity s, std::size_t off, std::size_t index, std::uint32_t type, std::string msg) {
        mf.diagnostics.push_back({s, off, index, type, std::move(msg)});
    };
    if (!ParseHeader(bytes, mf.header, error, headerWarnings)) {
        diag(Diagnostic::Severity::Error, 0, 0, 0, error);
        mf.status = ReadStatus::NotMetafile;
        return mf;
    }
    for (auto& w : headerWarnings) diag(Diagnostic::Severity::Warning, 0, 0, EMR_HEADER, w);
    mf.records.push_back({EMR_HEADER, mf.header.size, 0});

    std::size_t end = bytes.size();
    if (mf.header.bytes != bytes.size()) {
        diag(Diagnostic::Severity::Warning, 0, 0, EMR_HEADER,
             "header gives " + std::to_string(mf.header.bytes) + " bytes, the data has " + std::to_string(bytes.size()));
        // A header that claims fewer bytes than present bounds the walk only if an EOF record ends there.
    }
    bool damaged = !headerWarnings.empty();
    bool sawEof = false;
    std::size_t off = mf.header.size;
    while (off < end) {
        const std::size_t index = mf.records.size();
        if (end - off < 8) {
            diag(Diagnostic::Severity::Warning, off, index, 0, "data ends inside a record");
            damaged = true;
            break;
        }
        const std::uint32_t type = GetU32(bytes.data() + off), size = GetU32(bytes.data() + off + 4);
        if (size < 8 || size % 4 != 0) {
            diag(Diagnostic::Severity::Warning, off, index, type, "record size " + std::to_string(size) + " is invalid");
            damaged = true;
            break;
        }
        if (size > end - off) {
            diag(Diagnostic::Severity::Warning, off, index, type,
                 "record of " + std::to_string(size) + " bytes runs past the end of the data");
            damaged = true;
            break;
        }
        if (type == EMR_HEADER) {
            diag(Diagnostic::Severity::Warning, off, index, type, "second header record ignored");
            damaged = true;
        }
        if (mf.records.size() >= options.maxRecords) {
            diag(Diagnostic::Severity::Warning, off, index, type, "too many records");
            damaged = true;
            break;
        }
        mf.records.push_back({type, size, off});
        off += size;
        if (type == EMR_EOF) {
            sawEof = true;
            break;
        }
    }
    if (!sawEof && !damaged) {
        diag(Diagnostic::Severity::Warning, off, mf.records.size(), 0, "no end-of-file record");
        damaged = true;
    }
    if (mf.header.records != mf.records.size()) {
        // Some producers count one record less; the end-of-file record decides.
        diag(Diagnostic::Severity::Warning, 0, 0, EMR_HEADER,
             "header counts " + std::to_string(mf.header.records) + " records, found " + std::to_string(mf.records.size()));
    }
    if (options.strict && !mf.diagnostics.empty()) {
        for (auto& d : mf.diagnostics) d.severity = Diagnostic::Severity::Error;
        mf.status = ReadStatus::Failed;
        return mf;
    }
    mf.status = damaged ? ReadStatus::Damaged : ReadStatus::Ok;
    return mf;
}

std::string Dump(std::span<const std::uint8_t>, const Metafile& mf) {
    std::string s;
    char line[96];
    for (auto& r : mf.records) {
        std::snprintf(line, sizeof line, "%08zx %-28s %u\n", r.offset, RecordName(r.type).c_str(), r.size);
        s += line;
    }
    for (auto& d : mf.diagnostics) s += d.Text() + "\n";
    return s;
}

}  // namespace emf
