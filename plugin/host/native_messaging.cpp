#include "native_messaging.h"

#include "platform/text.h"

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>

namespace navlet {

namespace {

// Reads exactly n bytes; false at the end of the stream or on an error.
bool ReadExactly(int fd, void* data, std::size_t n) {
    auto* p = static_cast<char*>(data);
    while (n > 0) {
        ssize_t got = read(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t n) {
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t put = write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

// Takes the top-level "url" of an object and nothing else; no tree is built,
// so neither size nor nesting costs more than the bytes already read.
class RequestReader final : public nlohmann::json_sax<nlohmann::json> {
public:
    static constexpr int kMaxDepth = 32;

    bool null() override { return Scalar(); }
    bool boolean(bool) override { return Scalar(); }
    bool number_integer(number_integer_t) override { return Scalar(); }
    bool number_unsigned(number_unsigned_t) override { return Scalar(); }
    bool number_float(number_float_t, const string_t&) override { return Scalar(); }
    bool binary(binary_t&) override { return Scalar(); }
    bool string(string_t& value) override {
        if (depth_ == 0) return Fail("the request is not a JSON object");
        if (depth_ == 1 && inUrl_) {
            if (sawUrl_) return Fail("the request names \"url\" twice");
            sawUrl_ = true;
            url = value;
        }
        inUrl_ = false;
        return true;
    }
    bool start_object(std::size_t) override { return Open(true); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& name) override {
        inUrl_ = depth_ == 1 && name == "url";
        if (inUrl_ && sawUrl_) return Fail("the request names \"url\" twice");
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) override {
        return Fail("the request is not valid JSON (at byte " + std::to_string(position) + ")");
    }

    std::string url;
    std::string error;
    bool sawUrl_ = false;

private:
    bool Scalar() {
        if (depth_ == 0) return Fail("the request is not a JSON object");
        if (depth_ == 1 && inUrl_) return Fail("\"url\" is not a string");
        return true;
    }
    bool Open(bool object) {
        if (depth_ == 0 && !object) return Fail("the request is not a JSON object");
        if (depth_ == 1 && inUrl_) return Fail("\"url\" is not a string");
        inUrl_ = false;
        if (++depth_ > kMaxDepth) return Fail("the request nests too deeply");
        return true;
    }
    bool Close() {
        --depth_;
        return true;
    }
    bool Fail(std::string why) {
        if (error.empty()) error = std::move(why);
        return false;
    }

    int depth_ = 0;
    bool inUrl_ = false;
};

}  // namespace

ReadResult ReadMessage(int fd, std::string* body, std::uint32_t limit) {
    std::uint32_t length = 0;
    if (!ReadExactly(fd, &length, sizeof length)) return ReadResult::End;
    if (length > limit) {
        // Skipped, not stored, so the next message is read from its start.
        char sink[16384];
        for (std::uint32_t left = length; left > 0;) {
            std::size_t n = std::min<std::uint32_t>(left, sizeof sink);
            if (!ReadExactly(fd, sink, n)) return ReadResult::End;
            left -= static_cast<std::uint32_t>(n);
        }
        return ReadResult::TooLarge;
    }
    body->assign(length, '\0');
    if (length > 0 && !ReadExactly(fd, body->data(), length)) return ReadResult::End;
    return ReadResult::Message;
}

bool WriteMessage(int fd, std::string_view json) {
    const auto length = static_cast<std::uint32_t>(json.size());
    return WriteAll(fd, &length, sizeof length) && WriteAll(fd, json.data(), json.size());
}

bool AcceptableAddress(std::string_view url, std::string* why) {
    if (!(url.starts_with("http://") || url.starts_with("https://") || url.starts_with("file://"))) {
        *why = "only http, https and file addresses can be converted";
        return false;
    }
    for (unsigned char c : url) {
        if (c < 0x20 || c == 0x7F) {
            *why = "the address holds control characters";
            return false;
        }
    }
    if (!platform::IsValidUtf8(url)) {
        *why = "the address is not valid UTF-8";
        return false;
    }
    return true;
}

bool ParseRequest(std::string_view body, std::string* url, std::string* why) {
    RequestReader reader;
    bool ok = nlohmann::json::sax_parse(body.begin(), body.end(), &reader, nlohmann::json::input_format_t::json,
                                        true, false);
    if (!ok || !reader.error.empty()) {
        *why = reader.error.empty() ? "the request is not valid JSON" : reader.error;
        return false;
    }
    if (!reader.sawUrl_) {
        *why = "the request has no \"url\"";
        return false;
    }
    if (!AcceptableAddress(reader.url, why)) return false;
    *url = std::move(reader.url);
    return true;
}

}  // namespace navlet
