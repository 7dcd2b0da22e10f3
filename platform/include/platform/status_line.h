// Progress on the terminal: one line on standard error that long work
// rewrites in place and clears when it ends.
//
// Nothing at all is written unless standard error is a terminal, so logs and
// pipes never see it. The line shows the caller's text and the time since the
// line was made, and is redrawn at least once a second, so that work which
// sends no news for a while still shows a sign of life. It never gets wider
// than the terminal (a wrapped line could not be rewritten).
//
// Anything else the process writes to standard error should first call
// ClearStatusLine(); the line comes back at the next redraw.
#pragma once

#include <memory>
#include <string>

namespace platform {

class StatusLine {
public:
    // Draws on `fd` (standard error unless told otherwise), only when it is a
    // terminal.
    explicit StatusLine(int fd = 2);
    // Clears the line and stops redrawing.
    ~StatusLine();
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    // False when nothing is drawn (not a terminal): callers may skip building texts.
    bool Active() const;
    // The text in front of the elapsed time. Drawn at once, unless the line was
    // drawn less than a tenth of a second ago (the ticker then shows it).
    void Set(std::string text);

    // "m:ss", or "h:mm:ss" from an hour on.
    static std::string FormatElapsed(long seconds);
    // `text` cut to at most `columns` characters (UTF-8 aware): the end is
    // kept, since a file's name matters more than its folder.
    static std::string FitToWidth(const std::string& text, std::size_t columns);

private:
    friend void ClearStatusLine();
    struct Members;
    std::unique_ptr<Members> m_;
};

// Wipes the status line of the process, if one is showing.
void ClearStatusLine();

}  // namespace platform
