#include "htmlengine/mht.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/text.h"

namespace htmlengine {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads one line (without its CR LF or LF); advances pos past the line end.
std::string_view NextLine(std::string_view text, std::size_t& pos) {
    std::size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// Header block up to the first empty line; folded lines are joined.
// Returns the offset of the body.
std::size_t ReadHeaders(std::string_view text, std::map<std::string, std::string>& headers) {
    std::size_t pos = 0;
    std::string lastName;
    while (pos < text.size()) {
        std::size_t start = pos;
        std::string_view line = NextLine(text, pos);
        if (line.empty()) return pos;
        if ((line.front() == ' ' || line.front() == '\t') && !lastName.empty()) {
            headers[lastName] += " " + std::string(Trim(line));
            continue;
        }
        auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            // Not a header: the headers ended without an empty line.
            return start;
        }
        lastName = platform::ToLowerAscii(Trim(line.substr(0, colon)));
        headers[lastName] = std::string(Trim(line.substr(colon + 1)));
    }
    return pos;
}

// A parameter of a structured header value ("multipart/related; boundary=...").
std::string Param(std::string_view value, std::string_view name) {
    std::string low = platform::ToLowerAscii(value);
    std::size_t at = 0;
    while ((at = low.find(name, at)) != std::string::npos) {
        bool boundaryBefore = at == 0 || low[at - 1] == ';' || std::isspace(static_cast<unsigned char>(low[at - 1]));
        std::size_t i = at + name.size();
        while (i < low.size() && std::isspace(static_cast<unsigned char>(low[i]))) ++i;
        if (!boundaryBefore || i >= low.size() || low[i] != '=') {
            at += name.size();
            continue;
        }
        ++i;
        while (i < low.size() && std::isspace(static_cast<unsigned char>(low[i]))) ++i;
        if (i < value.size() && value[i] == '"') {
            auto end = value.find('"', i + 1);
            return std::string(value.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1));
        }
        auto end = value.find(';', i);
        return std::string(Trim(value.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i)));
    }
    return {};
}

std::string MainType(std::string_view contentType) {
    auto semi = contentType.find(';');
    std::string t = platform::ToLowerAscii(Trim(contentType.substr(0, semi)));
    return t.empty() ? "text/plain" : t;
}

std::string StripAngles(std::string_view id) {
    id = Trim(id);
    if (id.starts_with('<')) id.remove_prefix(1);
    if (id.ends_with('>')) id.remove_suffix(1);
    return std::string(id);
}

}  // namespace

std::string DecodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '=') {
            out += c;
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\n') {  // soft line break
            i += 1;
        } else if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') {
            i += 2;
        } else if (i + 2 < text.size() && Hex(text[i + 1]) >= 0 && Hex(text[i + 2]) >= 0) {
            out += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
            i += 2;
        } else {
            out += c;  // a stray '=' is kept as text, as mail readers do
        }
    }
    return out;
}

std::string DecodeBase64(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3 / 4);
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+' || c == '-') v = 62;
        else if (c == '/' || c == '_') v = 63;
        else if (c == '=') break;
        else continue;  // line breaks and other noise
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

bool LooksLikeMht(std::string_view bytes) {
    std::string_view head = bytes.substr(0, std::min<std::size_t>(bytes.size(), 4096));
    std::map<std::string, std::string> headers;
    ReadHeaders(head, headers);
    auto it = headers.find("content-type");
    return it != headers.end() && MainType(it->second).starts_with("multipart/");
}

std::optional<MhtArchive> ParseMht(std::string_view bytes) {
    std::map<std::string, std::string> top;
    std::size_t bodyAt = ReadHeaders(bytes, top);
    auto ct = top.find("content-type");
    if (ct == top.end() || !MainType(ct->second).starts_with("multipart/")) return std::nullopt;
    std::string boundary = Param(ct->second, "boundary");
    if (boundary.empty() || boundary.size() > 200) return std::nullopt;
    std::string start = StripAngles(Param(ct->second, "start"));
    std::string delimiter = "--" + boundary;

    MhtArchive archive;
    std::string_view body = bytes.substr(bodyAt);
    // Find every delimiter line; the text between two of them is a part.
    std::vector<std::pair<std::size_t, std::size_t>> spans;  // part start, part end
    std::size_t pos = 0, partStart = std::string_view::npos;
    bool closed = false;
    while (pos < body.size() && !closed) {
        std::size_t lineStart = pos;
        std::string_view line = NextLine(body, pos);
        if (!line.starts_with(delimiter)) continue;
        std::string_view rest = Trim(line.substr(delimiter.size()));
        if (!rest.empty() && rest != "--") continue;
        if (partStart != std::string_view::npos) {
            // The line break before a delimiter belongs to the delimiter.
            std::size_t end = lineStart;
            if (end > partStart && body[end - 1] == '\n') --end;
            if (end > partStart && body[end - 1] == '\r') --end;
            spans.emplace_back(partStart, end);
        }
        partStart = pos;
        closed = rest == "--";
    }
    if (!closed && partStart != std::string_view::npos && partStart < body.size()) {
        archive.warnings.push_back("archive ends without its closing delimiter");
        spans.emplace_back(partStart, body.size());
    }

    for (auto [s, e] : spans) {
        std::string_view raw = body.substr(s, e - s);
        std::map<std::string, std::string> h;
        std::size_t at = ReadHeaders(raw, h);
        MimePart part;
        auto pct = h.find("content-type");
        part.contentType = MainType(pct == h.end() ? "" : pct->second);
        if (pct != h.end()) part.charset = Param(pct->second, "charset");
        if (auto l = h.find("content-location"); l != h.end()) part.location = std::string(Trim(l->second));
        if (auto id = h.find("content-id"); id != h.end()) part.contentId = StripAngles(id->second);
        std::string cte =
            h.count("content-transfer-encoding") ? platform::ToLowerAscii(Trim(h["content-transfer-encoding"])) : "";
        std::string_view payload = raw.substr(at);
        if (cte == "base64") part.body = DecodeBase64(payload);
        else if (cte == "quoted-printable") part.body = DecodeQuotedPrintable(payload);
        else part.body = std::string(payload);
        archive.parts.push_back(std::move(part));
    }
    if (archive.parts.empty()) return std::nullopt;

    // The root: the part named by start=, else the first HTML part, else the first.
    archive.root = archive.parts.size();
    if (!start.empty()) {
        for (std::size_t i = 0; i < archive.parts.size(); ++i)
            if (archive.parts[i].contentId == start || archive.parts[i].location == start) {
                archive.root = i;
                break;
            }
    }
    if (archive.root == archive.parts.size()) {
        for (std::size_t i = 0; i < archive.parts.size(); ++i)
            if (archive.parts[i].contentType == "text/html") {
                archive.root = i;
                break;
            }
    }
    if (archive.root == archive.parts.size()) archive.root = 0;
    return archive;
}

const MimePart* MhtArchive::Find(std::string_view url) const {
    if (url.size() > 4 && platform::ToLowerAscii(url.substr(0, 4)) == "cid:") {
        std::string id = StripAngles(url.substr(4));
        for (const auto& p : parts)
            if (p.contentId == id) return &p;
        return nullptr;
    }
    for (const auto& p : parts)
        if (!p.location.empty() && p.location == url) return &p;
    std::string_view bare = url.substr(0, url.find('#'));
    for (const auto& p : parts)
        if (!p.location.empty() && p.location == bare) return &p;
    return nullptr;
}

}  // namespace htmlengine
