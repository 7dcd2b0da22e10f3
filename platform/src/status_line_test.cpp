#include "platform/status_line.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

namespace platform {
namespace {

// A pseudo-terminal of 40 columns: the line draws on its far end, the test
// reads what arrived on the near end.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
        winsize ws{};
        ws.ws_col = 40;
        ws.ws_row = 10;
        ioctl(slave_, TIOCSWINSZ, &ws);
    }
    ~Pty() {
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }
    bool ok() const { return slave_ >= 0; }
    int terminal() const { return slave_; }
    std::string Drain() {
        std::string out;
        char buf[512];
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, 50) > 0) {
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

private:
    int master_ = -1, slave_ = -1;
};

TEST(StatusLine, DrawsOnATerminalAndClearsAtTheEnd) {
    Pty pty;
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal";
    {
        StatusLine line(pty.terminal());
        ASSERT_TRUE(line.Active());
        line.Set("file 1 of 2: a.html");
        const std::string shown = pty.Drain();
        // The text, then the elapsed time ("m:ss").
        EXPECT_NE(shown.find("\r\033[Kfile 1 of 2: a.html  "), std::string::npos) << shown;
        EXPECT_NE(shown.find(":", shown.find("a.html  ")), std::string::npos) << shown;
        // A message for the terminal wipes the line first.
        ClearStatusLine();
        EXPECT_EQ(pty.Drain(), "\r\033[K");
    }
    // Already wiped: the end has nothing more to clear.
    EXPECT_EQ(pty.Drain(), "");
    {
        StatusLine line(pty.terminal());
        line.Set("x");
    }
    const std::string all = pty.Drain();
    ASSERT_GE(all.size(), 4u);
    EXPECT_EQ(all.substr(all.size() - 4), "\r\033[K") << all;
}

TEST(StatusLine, NeverWiderThanTheTerminal) {
    Pty pty;
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal";
    {
        StatusLine line(pty.terminal());
        line.Set("file 1 of 2: /a/very/long/folder/name/that/goes/on/and/on/report.html");
    }
    std::string shown = pty.Drain();
    const size_t start = shown.find("\033[K") + 3;
    const std::string text = shown.substr(start, shown.find('\r', start) - start);
    size_t chars = 0;
    for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
    EXPECT_LT(chars, 40u) << text;
    EXPECT_NE(text.find("report.html  "), std::string::npos) << text;
}

TEST(StatusLine, SilentWhenNotATerminal) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        StatusLine line(fds[1]);
        EXPECT_FALSE(line.Active());
        line.Set("anything");
        ClearStatusLine();
    }
    close(fds[1]);
    char c;
    EXPECT_EQ(read(fds[0], &c, 1), 0);
    close(fds[0]);
}

TEST(StatusLine, Texts) {
    EXPECT_EQ(StatusLine::FormatElapsed(0), "0:00");
    EXPECT_EQ(StatusLine::FormatElapsed(75), "1:15");
    EXPECT_EQ(StatusLine::FormatElapsed(3600 + 62), "1:01:02");
    // The end is kept, whole characters only, behind an ellipsis.
    EXPECT_EQ(StatusLine::FitToWidth("abcdef", 6), "abcdef");
    EXPECT_EQ(StatusLine::FitToWidth("abcdef", 4), "\xE2\x80\xA6" "def");
    EXPECT_EQ(StatusLine::FitToWidth("\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", 3), "\xE2\x80\xA6\xC3\xBC\xC3\x9F");
    EXPECT_EQ(StatusLine::FitToWidth("abc", 0), "");
    // Control characters in a file name cannot move the cursor.
    EXPECT_EQ(StatusLine::FitToWidth("a\nb\033[2Jc", 20), "a?b?[2Jc");
}

}  // namespace
}  // namespace platform
