// One document loaded into the office process, and what the automation
// objects ask of it: its page set-up in points, printing and closing. Every
// call runs under the session's guard and throws OfficeError (with the
// office's own text) when it fails.
#pragma once

#include <com/sun/star/lang/XComponent.hpp>

#include <memory>
#include <optional>
#include <string>

#include "office_session.h"

namespace vmoffice {

// The numbers are those of IOfficeLookahead's kinds.
enum class Kind { Text = 0, Spreadsheet = 1, Presentation = 2 };

// Page set-up as the applications describe it: lengths in points.
struct PageSetup {
    bool landscape = false;
    double width = 0, height = 0;
    double left = 0, top = 0, right = 0, bottom = 0;
};

class OfficeDocument {
public:
    // Loads `path` (made absolute) hidden, read-only when asked, without
    // running macros or updating links. The document must be of `kind`.
    // Each load is a line "document loading PATH" of $VELLUMATE_OFFICE_LOG.
    OfficeDocument(std::shared_ptr<OfficeSession> session, Kind kind, const std::string& path, bool readOnly);
    ~OfficeDocument();  // closes the document without saving
    OfficeDocument(const OfficeDocument&) = delete;
    OfficeDocument& operator=(const OfficeDocument&) = delete;

    Kind GetKind() const { return kind_; }
    // Text: the first page's style. Spreadsheet: the active sheet's style.
    // Presentation: the slide size (margins 0). Read from the office once,
    // and again after WritePageSetup.
    PageSetup ReadPageSetup();
    // Text: every page style; spreadsheet: the active sheet's style (size
    // left alone); presentation: the slide size.
    void WritePageSetup(const PageSetup& setup);
    // Prints every page (every sheet) to the user's default printer and
    // returns once the job is handed to the print service.
    void Print();
    void Close();

private:
    std::shared_ptr<OfficeSession> session_;
    Kind kind_;
    css::uno::Reference<css::lang::XComponent> doc_;
    std::optional<PageSetup> setup_;  // as last read
};

// The default printer the document is to print on, checked against what the
// office knows: it sees only the queues that existed when it started, and
// falls back to another printer without a word for any other name.
std::string DefaultPrinterName();

}  // namespace vmoffice
