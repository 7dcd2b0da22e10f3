// A structural comparison of two PDF files that ignores what a writer may
// vary without changing the document: how streams are compressed, where the
// objects stand in the file, the /ID and the dates.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace vmtest {

// The document as qpdf rewrites it (streams uncompressed, no object streams,
// objects in order), without the /ID and the creation and modification
// dates; empty when qpdf cannot read it.
std::string PdfStructure(const std::string& pdf);

// Success when both files have the same structure; otherwise the first line
// where they part.
::testing::AssertionResult SamePdfStructure(const std::string& a, const std::string& b);

}  // namespace vmtest
