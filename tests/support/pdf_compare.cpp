#include "pdf_compare.h"

#include <sstream>
#include <vector>

#include "run_program.h"

namespace vmtest {
namespace {

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Lines that carry the date or the file's identity rather than its content.
bool Varies(const std::string& line) {
    for (const char* key : {"/CreationDate", "/ModDate", "/ID "})
        if (line.find(key) != std::string::npos) return true;
    return false;
}

}  // namespace

std::string PdfStructure(const std::string& pdf) {
    const std::string qdf = Capture("qpdf --qdf --object-streams=disable --stream-data=uncompress "
                                    "--decode-level=generalized --no-original-object-ids " +
                                        Q(pdf) + " -",
                                    false);
    std::string out;
    for (const std::string& line : LinesOf(qdf))
        if (!Varies(line)) out += line + "\n";
    return out;
}

::testing::AssertionResult SamePdfStructure(const std::string& a, const std::string& b) {
    const std::string sa = PdfStructure(a), sb = PdfStructure(b);
    if (sa.empty() || sb.empty()) return ::testing::AssertionFailure() << "qpdf cannot read " << (sa.empty() ? a : b);
    if (sa == sb) return ::testing::AssertionSuccess();
    const std::vector<std::string> la = LinesOf(sa), lb = LinesOf(sb);
    size_t i = 0;
    while (i < la.size() && i < lb.size() && la[i] == lb[i]) ++i;
    return ::testing::AssertionFailure() << "line " << i + 1 << ": \"" << (i < la.size() ? la[i] : "(end)")
                                         << "\" in " << a << ", \"" << (i < lb.size() ? lb[i] : "(end)") << "\" in "
                                         << b;
}

}  // namespace vmtest
