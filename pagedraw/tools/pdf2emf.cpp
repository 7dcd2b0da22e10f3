// pdf2emf IN.pdf OUTDIR: every page of a PDF as OUTDIR/page-0001.emf, ...
//
// Exit status: 0 done, 1 wrong arguments, 2 the PDF cannot be read (damaged,
// encrypted, no pages), 3 a page or a file cannot be written. A run that
// fails leaves none of its page files behind.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pagedraw/pdf_pages.h"

namespace fs = std::filesystem;

namespace {

bool WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    const fs::path tmp = path.string() + ".part";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out.flush()) {
            std::error_code ec;
            fs::remove(tmp, ec);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) fs::remove(tmp, ec);
    return !ec;
}

}  // namespace

int main(int argc, char** argv) {
    int dpi = 600, pictureDpi = 0;
    bool carry = true;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--dpi=", 0) == 0) dpi = std::atoi(a.c_str() + 6);
        else if (a.rfind("--picture-dpi=", 0) == 0) pictureDpi = std::atoi(a.c_str() + 14);
        else if (a == "--no-fonts") carry = false;
        else files.push_back(a);
    }
    if (files.size() != 2 || dpi < 72 || dpi > 2400 || pictureDpi < 0 || pictureDpi > 2400) {
        std::fprintf(stderr, "usage: pdf2emf [--dpi=72..2400] [--picture-dpi=72..2400] [--no-fonts] IN.pdf OUTDIR\n");
        return 1;
    }
    const fs::path outDir = files[1];
    std::error_code ec;
    if (!fs::is_directory(outDir, ec)) {
        std::fprintf(stderr, "pdf2emf: %s is not a folder\n", outDir.c_str());
        return 3;
    }
    std::string error;
    auto pages = pagedraw::PdfPages::Open(files[0], error, {dpi, carry, pictureDpi});
    if (!pages) {
        std::fprintf(stderr, "pdf2emf: %s\n", error.c_str());
        return 2;
    }
    std::vector<fs::path> written;
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "pdf2emf: %s\n", why.c_str());
        for (auto& p : written) fs::remove(p, ec);
        return 3;
    };
    for (int i = 0; i < pages->PageCount(); ++i) {
        std::vector<std::string> warnings;
        auto bytes = pages->ConvertPage(i, error, &warnings);
        for (auto& w : warnings) std::fprintf(stderr, "pdf2emf: page %d: %s\n", i + 1, w.c_str());
        if (bytes.empty()) return fail(error);
        char name[32];
        std::snprintf(name, sizeof name, "page-%04d.emf", i + 1);
        if (!WriteFile(outDir / name, bytes)) return fail("cannot write " + (outDir / name).string());
        written.push_back(outDir / name);
    }
    std::printf("%d pages\n", pages->PageCount());
    return 0;
}
