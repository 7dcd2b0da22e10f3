// A long document is laid out in parts, so that the layout's memory follows
// the part, not the document. The parts split the children of one element
// (the body, or the element below it that holds most of the document: a
// main column, a long table's body, a long list); each part is a document of
// its own with the whole head (so every part has the same style sheets), the
// start tags of the elements down to that one, its share of the children and
// a few children of the next part to measure where that part begins.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sanitize.h"

namespace htmlengine {

struct ChunkPlan {
    std::vector<int> spine;  // spans from the body down to the element whose children are split
    std::vector<int> units;  // that element's children (spans), in document order
    // The spine index of a table whose body's rows are split (its body is
    // the spine's last element); -1: none.
    int table = -1;
    // Part k lays out units [firstUnit[k], firstUnit[k + 1]); the last one to
    // the end of the document.
    std::vector<std::size_t> firstUnit;
    std::size_t Parts() const { return firstUnit.size(); }
};

// Parts of about `partBytes` of markup each; fewer than two when the
// document cannot be split (no body, or no element with enough children).
ChunkPlan PlanChunks(const SanitizedHtml& doc, std::size_t partBytes);

// How the parts write a split table: declarations added to its style (its
// width) and a row that sets its columns (`ruler`), written after a part's
// own rows and, in the last part, in a body of its own before them (where
// it moves none of them: the part's top is not shown).
struct TableSetting {
    std::string style;
    std::string ruler;
};

// The markup of part k with `lookahead` units of the next part after its
// own (fewer where there are fewer). The first part begins with the
// document as written, later ones with the document's start up to the
// body's start tag and the spine's start tags; the last part ends with the
// rest of the document, the others with the spine's end tags. A split
// table is written as `table` says.
std::string ChunkHtml(const SanitizedHtml& doc, const ChunkPlan& plan, std::size_t k, std::size_t lookahead,
                      const TableSetting& table = {});

// Hidden elements a later part writes before its own units, so that each
// unit is as many children into its parent, counted modulo 12, as in the
// whole document (nth-child, odd and even rows, first-child): part k's
// first units are preceded by this many.
std::size_t ChunkPadding(const ChunkPlan& plan, std::size_t k);

// The tag name a span was written with (lower case).
std::string_view SpanTag(const SanitizedHtml& doc, int span);

}  // namespace htmlengine
