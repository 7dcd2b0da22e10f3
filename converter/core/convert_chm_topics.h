// Loading the topics of a compiled help file into the add-on, in contents
// order, and turning the contents into outlines (the last steps of ConvertChm
// before the pages are generated).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "context.h"
#include "convert_chm_contents.h"

namespace vellumate {

// For every topic in order (cancellation checked before each when
// interactive): a file topic not loaded yet is loaded with LoadHTMLFile from
// `folder`, its pages queued as one add-on source, and the topic's first
// add-on page stored in it and in every later topic naming the same file
// (anchors ignored), so a file is loaded once. Each loaded file gets a page
// table entry (add-on index) so that links between topics resolve. Without
// MakeOne every titled topic becomes an outline at its level (its page as a
// PDF page index, -1 for headings; a web topic carries its address).
// `*totalPages` gets the pages queued.
//
// Returns kOk, kCancelled (after UnloadAll, discarding the output and
// deleting the temporary folder) or kChmTopicFailed (string 2017 when
// interactive) when a load fails or adds no page.
std::int32_t LoadChmTopics(ConversionContext& ctx, std::vector<ChmTopic>& topics, const std::string& folder,
                           std::int32_t* totalPages);

}  // namespace vellumate
