#include "convert_chm_contents.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "convert_chm_sitemap.h"
#include "platform/text.h"

namespace vellumate {
namespace {

namespace fs = std::filesystem;

using platform::EndsWithNoCaseAscii;
using platform::ToLowerAscii;

// Every regular file below `folder`, as "/"-separated relative paths in
// order. Links are not followed.
std::vector<std::string> FilesBelow(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::vector<std::string> out;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code sec;
        if (it->is_symlink(sec) || !it->is_regular_file(sec)) continue;
        // The iterator's paths are the folder text plus "/" plus the rest.
        const std::string& full = it->path().native();
        if (full.size() > folder.size() + 1) out.push_back(full.substr(folder.size() + 1));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The reference as a path below the folder: a leading "/" stands for the
// folder itself; "." and empty parts go; ".." climbs. Empty when it would
// climb out.
std::string NormalisePath(const std::string& path) {
    std::vector<std::string> parts;
    std::stringstream in(path);
    std::string part;
    while (std::getline(in, part, '/')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (parts.empty()) return {};
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
    return out;
}

}  // namespace

std::string WithoutAnchor(const std::string& reference) { return reference.substr(0, reference.find('#')); }

ChmContents ReadChmContents(const std::string& folder, bool excludeOrphans) {
    ChmContents result;
    const std::vector<std::string> files = FilesBelow(folder);
    std::unordered_set<std::string> exact(files.begin(), files.end());
    std::unordered_map<std::string, std::string> byLowerName;
    for (const auto& f : files) byLowerName.emplace(ToLowerAscii(f), f);

    std::string contents;
    for (const auto& f : files) {
        if (f.find('/') == std::string::npos && EndsWithNoCaseAscii(f, ".hhc")) {
            contents = f;
            break;
        }
    }
    if (!contents.empty()) {
        result.contentsFile = folder + "/" + contents;
        std::ifstream in(result.contentsFile, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) text.clear();
        if (text.empty()) {
            result.status = ChmContentsStatus::kUnreadable;
            return result;
        }
        for (SitemapEntry& e : ParseSitemap(text)) {
            ChmTopic t{std::move(e.title), e.web, {}, e.level, -1};
            if (e.web) {
                t.local = std::move(e.local);
            } else if (!e.local.empty()) {
                std::size_t hash = e.local.find('#');
                std::string anchor = hash == std::string::npos ? "" : e.local.substr(hash);
                std::string path = NormalisePath(e.local.substr(0, hash));
                if (path.empty()) {
                    // Only an anchor (a place in the current page) or a climb out.
                    if (!e.local.empty() && e.local[0] != '#')
                        result.warnings.push_back("reference outside the help file refused: " + e.local);
                } else if (exact.count(path)) {
                    t.local = path + anchor;
                } else if (auto it = byLowerName.find(ToLowerAscii(path)); it != byLowerName.end()) {
                    t.local = it->second + anchor;
                } else {
                    result.warnings.push_back("topic not in the help file: " + e.local);
                }
            }
            result.topics.push_back(std::move(t));
        }
    } else {
        for (const char* name : {"index.htm", "index.html", "default.htm", "default.html"}) {
            if (auto it = byLowerName.find(name); it != byLowerName.end()) {
                result.topics.push_back({{}, false, it->second, 0, -1});
                break;
            }
        }
    }

    if (!excludeOrphans) {
        std::set<std::string> named;
        for (const auto& t : result.topics)
            if (!t.web && !t.local.empty()) named.insert(ToLowerAscii(WithoutAnchor(t.local)));
        for (const auto& f : files) {
            if (!EndsWithNoCaseAscii(f, ".htm") && !EndsWithNoCaseAscii(f, ".html")) continue;
            if (named.insert(ToLowerAscii(f)).second) result.topics.push_back({{}, false, f, 0, -1});
        }
    }

    std::int32_t previous = -1;
    for (auto& t : result.topics) {
        t.level = std::clamp<std::int32_t>(t.level, 0, previous + 1);
        if (!t.title.empty()) previous = t.level;
    }
    return result;
}

}  // namespace vellumate
