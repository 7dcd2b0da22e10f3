// Serialises PDF objects straight into a file, one object at a time: the
// classic cross-reference table (no object streams, so the file stays
// PDF 1.3/1.4), compact syntax and, when protection is on, every string and
// stream encrypted with RC4 under the key of the object that holds it.
//
// Use: NewObject() hands out numbers (objects may refer to numbers that are
// written later); Begin(n), the appenders, End() or EndStream() write one
// object; Finish() writes the table and the trailer. Only one object is open
// at a time. Per object nothing is kept but its 8-byte offset.
//
// Ownership: the FILE is borrowed and stays open for the writer's life; write
// errors throw std::runtime_error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace pdfcore {

// RC4 as the standard security handler uses it.
class Rc4 {
public:
    explicit Rc4(std::string_view key);
    void Apply(char* data, size_t n);

private:
    unsigned char s_[256];
    unsigned char i_ = 0, j_ = 0;
};

// Flate (zlib) at level 6; throws std::runtime_error when zlib fails.
std::string Deflate(std::string_view in);
// What EndStream would compress `data` to when compressing (empty: it would not try).
std::string PackStream(std::string_view data);

// Appends v with at most 2 decimals (rectangles of links, destinations).
void AppendShortNumber(std::string& out, double v);

class ObjectWriter {
public:
    // `compress`: streams without a filter of their own are Flate-compressed
    // when that makes them smaller.
    ObjectWriter(std::FILE* out, bool compress);

    void Header(std::string_view version);  // "1.4"
    int NewObject();
    int ObjectCount() const { return static_cast<int>(offsets_.size()) - 1; }

    // RC4 under the key derived from `fileKey` for each object (standard
    // handler revision 2 or 3).
    void SetEncryption(std::string fileKey, int v, int r);

    void Begin(int num);
    // The text of the open object (dictionary entries for a stream).
    std::string& Text() { return buf_; }
    void Raw(std::string_view s) { buf_.append(s); }
    void Int(long long v);
    void Num(double v);       // up to 4 decimals
    void ShortNum(double v);  // up to 2 decimals
    void Ref(int num);        // "n 0 R" (a blank in front when needed)
    void Name(std::string_view name);  // "/name", irregular characters as #xx
    // A string object of these bytes, encrypted when protection is on (not
    // for the encryption dictionary itself: see Begin's `plain`).
    void String(std::string_view bytes);
    // Appends PDF object text made by this program ("[/Indexed/DeviceRGB 1
    // <00FF..>]"); its strings go through String(), so they are encrypted too.
    void ObjectText(std::string_view text);
    void End();
    // Ends the open object as a stream: the text so far holds its dictionary
    // entries (without << >>). `mayCompress`: the data has no filter yet.
    // `packed`: PackStream(data), made ahead (on another thread, say).
    void EndStream(std::string_view data, bool mayCompress, const std::string* packed = nullptr);
    // As EndStream, with the data read from a region of a file (pread).
    void EndStreamFromFile(int fd, std::uint64_t offset, std::uint64_t length);

    // Leaves the next object unencrypted (the encryption dictionary).
    void NextObjectPlain() { plainNext_ = true; }

    // Cross-reference table and trailer. `trailer` holds the trailer's
    // entries beyond /Size.
    void Finish(std::string_view trailer);

    std::uint64_t BytesWritten() const { return pos_; }

private:
    void Put(const char* p, size_t n);
    void Put(std::string_view s) { Put(s.data(), s.size()); }
    void NeedSeparator();

    std::FILE* out_;
    bool compress_;
    std::uint64_t pos_ = 0;
    std::vector<std::uint64_t> offsets_{0};  // by object number; 0: not written yet
    std::string buf_;
    int open_ = 0;
    bool encrypt_ = false, plainNext_ = false, plain_ = false;
    std::string fileKey_, objectKey_;
    int v_ = 0, r_ = 0;
};

}  // namespace pdfcore
