// The native-messaging protocol between the browser extension and its host:
// each message is a 32-bit length in the machine's byte order followed by
// that many bytes of UTF-8 JSON. The extension asks {"url": ADDRESS}; the
// host answers with one JSON object per request.
//
// Everything read here comes from outside and is checked: the length
// against a limit, the JSON by a parser that builds nothing but the one
// field it wants, the address against the schemes the converter takes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace navlet {

// Requests larger than this are refused (an address is at most a command
// line long; the rest is room for the JSON around it).
constexpr std::uint32_t kMaxRequestBytes = 64 * 1024;

enum class ReadResult {
    Message,   // *body holds one message
    TooLarge,  // the message was longer than the limit; its bytes were skipped
    End,       // the stream ended (cleanly or in the middle of a message)
};

ReadResult ReadMessage(int fd, std::string* body, std::uint32_t limit = kMaxRequestBytes);
// False when the stream is gone.
bool WriteMessage(int fd, std::string_view json);

// The address of a request, or false with the reason in *why: the body is
// not a JSON object, has no "url" string (or two), nests deeper than a
// request ever does, or the address is not one the converter may be given.
bool ParseRequest(std::string_view body, std::string* url, std::string* why);

// An address the converter may be given: it begins with "http://",
// "https://" or "file://" (as the converter writes them), holds no control
// characters and is valid UTF-8.
bool AcceptableAddress(std::string_view url, std::string* why);

}  // namespace navlet
