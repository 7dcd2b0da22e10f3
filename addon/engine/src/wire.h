// Little-endian byte writer and bounds-checked reader for what crosses the
// pipe between the layout process and the loader.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace htmlengine::wire {

struct Damaged : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}
    template <class T>
    void Pod(T v) {
        static_assert(std::is_trivially_copyable_v<T>);
        char b[sizeof(T)];
        std::memcpy(b, &v, sizeof(T));
        out_.append(b, sizeof(T));
    }
    void U32(std::uint32_t v) { Pod(v); }
    void I32(std::int32_t v) { Pod(v); }
    void F64(double v) { Pod(v); }
    void Bool(bool v) { Pod<std::uint8_t>(v ? 1 : 0); }
    void Str(std::string_view s) {
        U32(static_cast<std::uint32_t>(s.size()));
        out_.append(s);
    }
    void Bytes(const void* p, std::size_t n) {
        U32(static_cast<std::uint32_t>(n));
        out_.append(static_cast<const char*>(p), n);
    }

private:
    std::string& out_;
};

class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}
    template <class T>
    T Pod() {
        Need(sizeof(T));
        T v;
        std::memcpy(&v, in_.data() + pos_, sizeof(T));
        pos_ += sizeof(T);
        return v;
    }
    std::uint32_t U32() { return Pod<std::uint32_t>(); }
    std::int32_t I32() { return Pod<std::int32_t>(); }
    double F64() { return Pod<double>(); }
    bool Bool() { return Pod<std::uint8_t>() != 0; }
    std::string_view View() {
        std::uint32_t n = U32();
        Need(n);
        std::string_view v = in_.substr(pos_, n);
        pos_ += n;
        return v;
    }
    std::string Str() { return std::string(View()); }
    // A count of items each at least `minItemBytes` long: checked against what is left.
    std::uint32_t Count(std::size_t minItemBytes) {
        std::uint32_t n = U32();
        if (minItemBytes && n > (in_.size() - pos_) / minItemBytes) throw Damaged("count beyond data");
        return n;
    }
    bool AtEnd() const { return pos_ == in_.size(); }

private:
    void Need(std::size_t n) {
        if (n > in_.size() - pos_) throw Damaged("truncated");
    }
    std::string_view in_;
    std::size_t pos_ = 0;
};

}  // namespace htmlengine::wire
