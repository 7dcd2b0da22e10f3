#include "pdfcore/pdf_writer.h"

#include <libdeflate.h>

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "pdfcore/content.h"
#include "pdfcore/protection.h"

namespace pdfcore {

Rc4::Rc4(std::string_view key) {
    for (int i = 0; i < 256; ++i) s_[i] = static_cast<unsigned char>(i);
    if (key.empty()) return;
    unsigned char j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<unsigned char>(j + s_[i] + static_cast<unsigned char>(key[i % key.size()]));
        std::swap(s_[i], s_[j]);
    }
}

void Rc4::Apply(char* data, size_t n) {
    for (size_t k = 0; k < n; ++k) {
        i_ = static_cast<unsigned char>(i_ + 1);
        j_ = static_cast<unsigned char>(j_ + s_[i_]);
        std::swap(s_[i_], s_[j_]);
        data[k] = static_cast<char>(data[k] ^ s_[static_cast<unsigned char>(s_[i_] + s_[j_])]);
    }
}

std::string Deflate(std::string_view in) {
    // A whole-buffer compressor: at the same level it packs as tightly as the
    // streaming one in about half the time (printed pages carry pictures of
    // tens of megabytes). Compressed into a scratch buffer that stays (no
    // fresh zeroed pages per stream), then copied out at its real size.
    struct FreeCompressor {
        void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
    };
    thread_local std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor(libdeflate_alloc_compressor(6));
    thread_local std::unique_ptr<char[]> scratch;
    thread_local std::size_t scratchSize = 0;
    if (!compressor) throw std::runtime_error("cannot compress a stream");
    const std::size_t cap = libdeflate_zlib_compress_bound(compressor.get(), in.size());
    if (cap > scratchSize) scratch.reset(new char[cap]), scratchSize = cap;
    const std::size_t n = libdeflate_zlib_compress(compressor.get(), in.data(), in.size(), scratch.get(), cap);
    if (n == 0) throw std::runtime_error("cannot compress a stream");
    return std::string(scratch.get(), n);
}

void AppendShortNumber(std::string& out, double v) {
    if (!std::isfinite(v)) v = 0;
    AppendNumber(out, std::round(v * 100.0) / 100.0);
}

ObjectWriter::ObjectWriter(std::FILE* out, bool compress) : out_(out), compress_(compress) {}

void ObjectWriter::Put(const char* p, size_t n) {
    if (n && std::fwrite(p, 1, n, out_) != n)
        throw std::runtime_error(std::string("cannot write the PDF file: ") + std::strerror(errno));
    pos_ += n;
}

void ObjectWriter::Header(std::string_view version) {
    std::string h = "%PDF-";
    h.append(version);
    // Bytes above 127 in the second line mark the file as binary for tools
    // that guess.
    h += "\n%\xE2\xE3\xCF\xD3\n";
    Put(h);
}

int ObjectWriter::NewObject() {
    offsets_.push_back(0);
    return static_cast<int>(offsets_.size()) - 1;
}

void ObjectWriter::SetEncryption(std::string fileKey, int v, int r) {
    encrypt_ = true;
    fileKey_ = std::move(fileKey);
    v_ = v;
    r_ = r;
}

void ObjectWriter::Begin(int num) {
    if (open_) throw std::logic_error("PDF object " + std::to_string(open_) + " is still open");
    if (num <= 0 || num >= static_cast<int>(offsets_.size()) || offsets_[num])
        throw std::logic_error("PDF object " + std::to_string(num) + " was not reserved or is written twice");
    open_ = num;
    buf_.clear();
    plain_ = plainNext_;
    plainNext_ = false;
    if (encrypt_ && !plain_) objectKey_ = ObjectKey(fileKey_, num, v_, r_);
}

void ObjectWriter::NeedSeparator() {
    if (buf_.empty()) return;
    char c = buf_.back();
    if (!std::strchr("[]<>()/ \n", c)) buf_.push_back(' ');
}

void ObjectWriter::Int(long long v) {
    NeedSeparator();
    buf_ += std::to_string(v);
}

void ObjectWriter::Num(double v) {
    NeedSeparator();
    AppendNumber(buf_, v);
}

void ObjectWriter::ShortNum(double v) {
    NeedSeparator();
    AppendShortNumber(buf_, v);
}

void ObjectWriter::Ref(int num) {
    NeedSeparator();
    buf_ += std::to_string(num);
    buf_ += " 0 R";
}

void ObjectWriter::Name(std::string_view name) {
    buf_.push_back('/');
    static const char* kHex = "0123456789ABCDEF";
    for (unsigned char c : name) {
        if (c <= 32 || c >= 127 || std::strchr("()<>[]{}/%#", c)) {
            buf_.push_back('#');
            buf_.push_back(kHex[c >> 4]);
            buf_.push_back(kHex[c & 15]);
        } else {
            buf_.push_back(static_cast<char>(c));
        }
    }
}

void ObjectWriter::String(std::string_view bytes) {
    std::string tmp;
    if (encrypt_ && !plain_) {
        tmp.assign(bytes);
        Rc4(objectKey_).Apply(tmp.data(), tmp.size());
        bytes = tmp;
    }
    // A literal string; only what would end it or change its bytes is escaped
    // (a bare CR would be read as LF).
    buf_.push_back('(');
    for (char c : bytes) {
        switch (c) {
        case '(': buf_ += "\\("; break;
        case ')': buf_ += "\\)"; break;
        case '\\': buf_ += "\\\\"; break;
        case '\r': buf_ += "\\r"; break;
        default: buf_.push_back(c);
        }
    }
    buf_.push_back(')');
}

void ObjectWriter::ObjectText(std::string_view text) {
    auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    NeedSeparator();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '<' && i + 1 < text.size() && text[i + 1] == '<') {
            buf_ += "<<";
            ++i;
        } else if (c == '<') {
            std::string bytes;
            int high = -1;
            for (++i; i < text.size() && text[i] != '>'; ++i) {
                int v = hexValue(text[i]);
                if (v < 0) continue;
                if (high < 0) {
                    high = v;
                } else {
                    bytes.push_back(static_cast<char>(high * 16 + v));
                    high = -1;
                }
            }
            if (high >= 0) bytes.push_back(static_cast<char>(high * 16));
            String(bytes);
        } else if (c == '(') {
            std::string bytes;
            int depth = 1;
            for (++i; i < text.size(); ++i) {
                char d = text[i];
                if (d == '\\' && i + 1 < text.size()) {
                    char e = text[++i];
                    switch (e) {
                    case 'n': bytes.push_back('\n'); break;
                    case 'r': bytes.push_back('\r'); break;
                    case 't': bytes.push_back('\t'); break;
                    case 'b': bytes.push_back('\b'); break;
                    case 'f': bytes.push_back('\f'); break;
                    default:
                        if (e >= '0' && e <= '7') {
                            int v = e - '0';
                            for (int k = 0; k < 2 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7'; ++k)
                                v = v * 8 + (text[++i] - '0');
                            bytes.push_back(static_cast<char>(v));
                        } else {
                            bytes.push_back(e);
                        }
                    }
                    continue;
                }
                if (d == '(') ++depth;
                if (d == ')' && --depth == 0) break;
                bytes.push_back(d);
            }
            String(bytes);
        } else {
            buf_.push_back(c);
        }
    }
}

void ObjectWriter::End() {
    if (!open_) throw std::logic_error("no PDF object is open");
    offsets_[open_] = pos_;
    std::string head = std::to_string(open_) + " 0 obj\n";
    Put(head);
    buf_ += "\nendobj\n";
    Put(buf_);
    open_ = 0;
}

std::string PackStream(std::string_view data) { return data.size() >= 64 ? Deflate(data) : std::string(); }

void ObjectWriter::EndStream(std::string_view data, bool mayCompress, const std::string* ahead) {
    if (!open_) throw std::logic_error("no PDF object is open");
    std::string packed;
    if (mayCompress && compress_ && data.size() >= 64) {
        packed = ahead && !ahead->empty() ? *ahead : Deflate(data);
        if (packed.size() < data.size()) {
            buf_ += "/Filter/FlateDecode";
            data = packed;
        }
    }
    std::string sealed;
    if (encrypt_ && !plain_) {
        sealed.assign(data);
        Rc4(objectKey_).Apply(sealed.data(), sealed.size());
        data = sealed;
    }
    offsets_[open_] = pos_;
    std::string head = std::to_string(open_) + " 0 obj\n<<" + buf_ + "/Length " + std::to_string(data.size()) +
                       ">>stream\n";
    Put(head);
    Put(data);
    Put("\nendstream\nendobj\n");
    open_ = 0;
}

void ObjectWriter::EndStreamFromFile(int fd, std::uint64_t offset, std::uint64_t length) {
    if (!open_) throw std::logic_error("no PDF object is open");
    offsets_[open_] = pos_;
    std::string head = std::to_string(open_) + " 0 obj\n<<" + buf_ + "/Length " + std::to_string(length) +
                       ">>stream\n";
    Put(head);
    Rc4 rc4(objectKey_);
    std::string chunk(std::min<std::uint64_t>(length, 256 * 1024), '\0');
    std::uint64_t done = 0;
    while (done < length) {
        size_t want = static_cast<size_t>(std::min<std::uint64_t>(chunk.size(), length - done));
        ssize_t got = pread(fd, chunk.data(), want, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw std::runtime_error("cannot read back page content from the spool file");
        if (encrypt_ && !plain_) rc4.Apply(chunk.data(), static_cast<size_t>(got));
        Put(chunk.data(), static_cast<size_t>(got));
        done += static_cast<std::uint64_t>(got);
    }
    Put("\nendstream\nendobj\n");
    open_ = 0;
}

void ObjectWriter::Finish(std::string_view trailer) {
    if (open_) throw std::logic_error("PDF object " + std::to_string(open_) + " is still open");
    std::uint64_t xref = pos_;
    std::string s = "xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f\r\n";
    Put(s);
    char line[32];
    std::string block;
    block.reserve(20 * 4096);
    for (size_t n = 1; n < offsets_.size(); ++n) {
        if (offsets_[n] == 0)
            throw std::logic_error("PDF object " + std::to_string(n) + " was reserved but never written");
        std::snprintf(line, sizeof line, "%010llu 00000 n\r\n", static_cast<unsigned long long>(offsets_[n]));
        block.append(line, 20);
        if (block.size() >= 20 * 4096) {
            Put(block);
            block.clear();
        }
    }
    Put(block);
    s = "trailer\n<</Size " + std::to_string(offsets_.size());
    s.append(trailer);
    s += ">>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    Put(s);
}

}  // namespace pdfcore
