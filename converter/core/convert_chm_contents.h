// The contents of an unpacked compiled help file: which topics to convert, in
// which order, under which outline titles and levels. Pure file-system work,
// no add-on: the topics are loaded by ConvertChm (convert_chm.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumate {

struct ChmTopic {
    std::string title;  // empty: no outline
    bool web = false;   // `local` is an address; no page, the outline carries it
    // For files: the path below the unpacked folder, as it exists there
    // (anchor kept), or empty for a heading without a page.
    std::string local;
    std::int32_t level = 0;
    std::int32_t page = -1;  // first add-on page of the topic; -1 until loaded
};

enum class ChmContentsStatus {
    kOk,
    kUnreadable,  // the contents file cannot be opened or is empty
};

struct ChmContents {
    ChmContentsStatus status = ChmContentsStatus::kOk;
    std::string contentsFile;  // full path of the ".hhc" read; empty when none
    std::vector<ChmTopic> topics;
    std::vector<std::string> warnings;  // references refused or not found
};

// Reads the contents of the unpacked folder:
// - the first "*.hhc" directly in the folder (by name order, any case) is
//   parsed; without one, "index.htm(l)" or else "default.htm(l)" becomes the
//   only topic (level 0, no title);
// - every file reference is resolved below the folder: a leading "/" or "./"
//   is dropped, letter case is matched to the unpacked file when it differs,
//   and a reference that climbs out of the folder (".." or absolute) or names
//   no unpacked file keeps its title as a heading without a page (with a
//   warning);
// - unless `excludeOrphans`, every ".htm"/".html" file below the folder that
//   no topic names (anchors ignored) is appended without a title, in path
//   order;
// - levels are clamped so that each is at least 0 and at most one deeper
//   than the previous titled topic (the outline tree keeps its shape).
ChmContents ReadChmContents(const std::string& folder, bool excludeOrphans);

// The reference without its anchor ("a.htm#x" -> "a.htm").
std::string WithoutAnchor(const std::string& reference);

}  // namespace vellumate
