// What a print job brings, as one PDF: a PDF stays as it is, plain text is
// typeset in a monospace face (the text filters of the spooler make PDFs
// whose text cannot be extracted again), and every picture becomes a page
// of its own, fitted into the page.
#pragma once

#include <string>
#include <string_view>

namespace driver {

struct Paper {
    std::string name = "A4";
    double width = 595.276, height = 841.89;  // points
};

// The paper the job asks for ("PageSize=" or "media=" among the job's
// options) when the queue's PPD names it, else the PPD's default, else A4.
Paper ChoosePaper(std::string_view ppd, std::string_view options);

enum class JobKind { Pdf, Text, Picture };
JobKind Sniff(std::string_view bytes);

// Writes text or pictures as a PDF at `path` (pages of `paper`). False with
// `error` when nothing could be made (a picture that cannot be decoded).
bool WriteTextPdf(std::string_view text, const Paper& paper, const std::string& path, std::string& error);
bool WritePicturePdf(std::string_view bytes, const Paper& paper, const std::string& path, std::string& error);

}  // namespace driver
