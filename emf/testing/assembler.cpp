#include "assembler.h"

#include <cstring>
#include <map>
#include <sstream>

#include "emf/records.h"

namespace emf::testing {

namespace {

void Put32(std::vector<std::uint8_t>& o, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) o.push_back(std::uint8_t(v >> (8 * i)));
}
void Patch32(std::vector<std::uint8_t>& o, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) o[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

std::uint32_t TypeOf(const std::string& name) {
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) return std::uint32_t(std::stoul(name));
    for (std::uint32_t t = 1; t <= kMaxRecordType; ++t)
        if (RecordName(t) == name) return t;
    throw std::invalid_argument("unknown record " + name);
}

// Splits on blanks, keeping quoted text together.
std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> t;
    std::string cur;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == ' ' || c == '\t')) {
            if (!cur.empty()) t.push_back(cur), cur.clear();
            continue;
        }
        if (!quoted && c == '#') break;
        cur += c;
    }
    if (!cur.empty()) t.push_back(cur);
    return t;
}

std::vector<long long> Numbers(const std::string& s) {
    std::vector<long long> v;
    std::stringstream ss(s);
    std::string part;
    while (std::getline(ss, part, ',')) v.push_back(std::stoll(part, nullptr, 0));
    return v;
}

std::string Unquote(const std::string& s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') throw std::invalid_argument("text needs quotes: " + s);
    return s.substr(1, s.size() - 2);
}

}  // namespace

std::vector<std::uint8_t> Assemble(const std::string& text) {
    std::vector<std::uint8_t> out;
    std::stringstream in(text);
    std::string line;
    int lineNo = 0, records = 0;
    bool fixRecords = false, fixBytes = false;
    while (std::getline(in, line)) {
        ++lineNo;
        auto tok = Tokens(line);
        if (tok.empty()) continue;
        try {
            std::vector<std::uint8_t> r;
            long long sizeOverride = -1;
            if (tok[0] == "header") {
                std::vector<long long> bounds{0, 0, -1, -1}, frame{0, 0, -1, -1}, dev{1920, 1080}, mm{508, 286};
                std::u16string desc;
                long long recs = -1, bytes = -1, handles = 1;
                for (std::size_t i = 1; i < tok.size(); ++i) {
                    auto eq = tok[i].find('=');
                    std::string k = tok[i].substr(0, eq), v = tok[i].substr(eq + 1);
                    if (k == "bounds") bounds = Numbers(v);
                    else if (k == "frame") frame = Numbers(v);
                    else if (k == "device") dev = Numbers(v);
                    else if (k == "mm") mm = Numbers(v);
                    else if (k == "records") recs = std::stoll(v);
                    else if (k == "bytes") bytes = std::stoll(v);
                    else if (k == "handles") handles = std::stoll(v);
                    else if (k == "size") sizeOverride = std::stoll(v);
                    else if (k == "desc") for (char c : Unquote(v)) desc += char16_t(c);
                    else throw std::invalid_argument("unknown header field " + k);
                }
                Put32(r, EMR_HEADER), Put32(r, 0);
                for (auto x : bounds) Put32(r, std::uint32_t(x));
                for (auto x : frame) Put32(r, std::uint32_t(x));
                Put32(r, kSignature), Put32(r, 0x10000);
                Put32(r, std::uint32_t(bytes)), Put32(r, std::uint32_t(recs)), Put32(r, std::uint32_t(handles));
                Put32(r, std::uint32_t(desc.size())), Put32(r, desc.empty() ? 0 : 88), Put32(r, 0);
                for (auto x : dev) Put32(r, std::uint32_t(x));
                for (auto x : mm) Put32(r, std::uint32_t(x));
                for (char16_t c : desc) r.push_back(std::uint8_t(c)), r.push_back(std::uint8_t(c >> 8));
                while (r.size() % 4) r.push_back(0);
                fixRecords = recs < 0, fixBytes = bytes < 0;
            } else {
                std::string name = tok[0] == "eof" ? "EMR_EOF" : tok[0];
                Put32(r, TypeOf(name)), Put32(r, 0);
                if (tok[0] == "eof") Put32(r, 0), Put32(r, 16), Put32(r, 20);
                std::map<std::string, std::size_t> marks;
                std::vector<std::pair<std::size_t, std::string>> refs;
                for (std::size_t i = 1; i < tok.size(); ++i) {
                    const std::string& t = tok[i];
                    if (t == "pad") {
                        while (r.size() % 4) r.push_back(0);
                        continue;
                    }
                    if (t[0] == '@') {
                        marks[t.substr(1)] = r.size();
                        continue;
                    }
                    if (t[0] == '&') {
                        refs.push_back({r.size(), t.substr(1)});
                        Put32(r, 0);
                        continue;
                    }
                    auto colon = t.find(':');
                    auto eq = t.find('=');
                    if (eq != std::string::npos && (colon == std::string::npos || eq < colon)) {
                        if (t.substr(0, eq) != "size") throw std::invalid_argument("unknown setting " + t);
                        sizeOverride = std::stoll(t.substr(eq + 1), nullptr, 0);
                        continue;
                    }
                    if (colon == std::string::npos) throw std::invalid_argument("field without a kind: " + t);
                    std::string k = t.substr(0, colon), v = t.substr(colon + 1);
                    if (k == "u32" || k == "i32") Put32(r, std::uint32_t(std::stoll(v, nullptr, 0)));
                    else if (k == "u16" || k == "i16") {
                        auto x = std::uint16_t(std::stoll(v, nullptr, 0));
                        r.push_back(std::uint8_t(x)), r.push_back(std::uint8_t(x >> 8));
                    } else if (k == "u8") r.push_back(std::uint8_t(std::stoll(v, nullptr, 0)));
                    else if (k == "f32") {
                        float f = std::stof(v);
                        std::uint32_t b;
                        std::memcpy(&b, &f, 4);
                        Put32(r, b);
                    } else if (k == "rect" || k == "pt") {
                        auto n = Numbers(v);
                        if (n.size() != (k == "rect" ? 4u : 2u)) throw std::invalid_argument("wrong number count: " + t);
                        for (auto x : n) Put32(r, std::uint32_t(x));
                    } else if (k == "w") {
                        for (char c : Unquote(v)) r.push_back(std::uint8_t(c)), r.push_back(0);
                    } else if (k == "a") {
                        for (char c : Unquote(v)) r.push_back(std::uint8_t(c));
                    } else if (k == "hex") {
                        for (std::size_t j = 0; j + 1 < v.size(); j += 2) r.push_back(std::uint8_t(std::stoul(v.substr(j, 2), nullptr, 16)));
                    } else if (k == "fill") {
                        auto c2 = v.find(':');
                        std::size_t n = std::stoul(v.substr(0, c2));
                        std::uint8_t b = c2 == std::string::npos ? 0 : std::uint8_t(std::stoul(v.substr(c2 + 1), nullptr, 0));
                        r.insert(r.end(), n, b);
                    } else {
                        throw std::invalid_argument("unknown field kind " + k);
                    }
                }
                for (auto& [at, name2] : refs) {
                    auto m = marks.find(name2);
                    if (m == marks.end()) throw std::invalid_argument("no mark @" + name2);
                    Patch32(r, at, std::uint32_t(m->second));
                }
            }
            Patch32(r, 4, sizeOverride >= 0 ? std::uint32_t(sizeOverride) : std::uint32_t(r.size()));
            out.insert(out.end(), r.begin(), r.end());
            ++records;
        } catch (const std::invalid_argument& e) {
            throw std::invalid_argument("line " + std::to_string(lineNo) + ": " + e.what());
        } catch (const std::out_of_range&) {
            throw std::invalid_argument("line " + std::to_string(lineNo) + ": number out of range");
        }
    }
    if (out.size() >= 88 && out[0] == EMR_HEADER) {
        if (fixBytes) Patch32(out, 48, std::uint32_t(out.size()));
        if (fixRecords) Patch32(out, 52, std::uint32_t(records));
    }
    return out;
}

}  // namespace emf::testing
