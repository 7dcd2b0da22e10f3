#include "console.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "paths.h"
#include "platform/status_line.h"
#include "platform/sysinfo.h"
#include "strings.h"
#include "system.h"

namespace vellumate {

StandardOption StandardOptionOf(int argc, char** argv) {
    if (argc < 2 || !argv[1]) return StandardOption::None;
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") return StandardOption::Help;
    if (first == "--version") return StandardOption::Version;
    return StandardOption::None;
}

std::string UsageText(const std::string& programName, const std::string& programFolder) {
    const char* n = programName.c_str();
    std::string text = FormatString(
        "Usage: %s SOURCE [OUTPUT] [SWITCHES]\n"
        "       %s /url ADDRESS [SWITCHES]\n"
        "       %s /inlist INPUTLIST /outlist OUTPUTLIST [SWITCHES]\n"
        "       %s /inlist INPUTLIST /outdir FOLDER [SWITCHES]\n"
        "       %s /help | /? | /h        open the help file\n"
        "       %s --help | -h | --version\n",
        n, n, n, n, n, n);
    text +=
        "\n"
        "Converts HTML pages (html htm shtml shtm), plain text (txt), web archives (mht),\n"
        "web addresses, compiled help files (chm) and pictures (jpg jpeg tif tiff gif\n"
        "emf bmp png) into PDF files.\n"
        "\n"
        "A relative SOURCE is taken from the program's folder, not the current one:\n"
        "  " + programFolder + "\n"
        "so give files of the current folder as \"$PWD/file\". A relative OUTPUT is taken\n"
        "from the source's folder; without OUTPUT the PDF is SOURCE.pdf (a.html.pdf).\n"
        "\n"
        "Run flags, anywhere on the line:\n"
        "  /addlog       log of the HTML add-on and its page images beside the program\n"
        "  /invertall    pictures drawn inverted\n"
        "  /autolaunch   open each PDF when it is written\n"
        "\n"
        "Switches come as a name (any case) and a value (exactly as listed):\n"
        "  /all2one yes|no               all inputs of a list into one PDF\n"
        "  /title /author /subj /keywords TEXT\n"
        "  /compress flate|none          /ver v13|v14\n"
        "  /charset ansi|default|symbol|mac|shiftjis|hangeul|johab|gb2312|chinesebig5|\n"
        "           greek|turkish|vietnamese|hebrew|arabic|baltic|russian|thai|\n"
        "           easteurope|oem\n"
        "  /psize userdefined|letter|a4|a3|legal|b5|c5|8x11|b4|a5|folio|executive|\n"
        "         envb4|envb5|envc6|envdl|envmonarch|env9|env10|env11\n"
        "  /porient portrait|landscape\n"
        "  /margin-left /margin-right /margin-top /margin-bottom 0-999\n"
        "  /widthadj page|content|none   /pagenumbers yes|no   /forcesizes yes|no\n"
        "  /engine auto|light|browser\n"
        "  /excludeorphanpages yes|no    /preservelinks yes|no /embedfonts yes|no\n"
        "  /centerwnd /fitwnd /hidemenu /hidetoolbar /hidewui yes|no\n"
        "  /playout single|column|2columnleft|2columnright\n"
        "  /pmode none|outlines|thumbs|fullscreen\n"
        "  /protect yes|no, then: /allowcpy /allowmodif /allowprn yes|no,\n"
        "           /ownerpass /userpass TEXT, /keylen 40|128\n"
        "\n"
        "The exit status is 0 on success, else the result code modulo 256 (-6 is 250).\n"
        "A failed run says why on standard error; VELLUMATE_QUIET=1 silences it.\n"
        "See vellumate(1) for the codes and everything else.\n";
    return text;
}

std::string VersionText(const std::string& programName) {
    return programName + " " + platform::ProductVersionString() + "\n";
}

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// The document a file-level failure is about: the file, or the address.
std::string Document(const RunSubject& s) { return Quoted(s.source.empty() ? s.url : s.source); }

}  // namespace

std::string FailureText(std::int32_t code, const RunSubject& s) {
    switch (code) {
    case 1: return InterruptSignal() ? "interrupted" : "cancelled";
    case -1: return LoadString(IDS_WRONG_COMMAND_LINE) + " (see --help)";
    case -2: return FormatString(LoadString(IDS_FOLDER_MISSING).c_str(), s.folder.c_str());
    case -3: return "the input and output lists have different lengths";
    case -4: return "cannot read the input list " + Quoted(s.inputList) + " (missing or empty)";
    case -5: return "cannot read the output list " + Quoted(s.outputList) + " (missing or empty)";
    case -6:
        if (!s.source.empty() && sys::IsFolder(s.source)) return Quoted(s.source) + " is a folder";
        return (sys::Exists(s.source) ? "cannot read " : "cannot find ") + Quoted(s.source);
    case -7: return Quoted(s.source) + " has no extension";
    case -8: return "cannot convert " + Quoted(s.source) + ": its extension is not supported";
    case -9: return "the PDF library or the HTML add-on is not registered or cannot be created";
    case -10: return "cannot load " + Document(s);
    case -11: return "the help viewer cannot unpack " + Quoted(s.source);
    case -13: return "cannot read the contents of " + Quoted(s.source);
    case -14: return "cannot load a topic of " + Quoted(s.source);
    case -15: return "cannot write " + Quoted(s.output);
    case -16: return "nothing to merge: the input list is empty";
    case -17: return "the HTML add-on failed while making the pages of " + Document(s);
    case -18: return "cannot write a page number into " + Quoted(s.output);
    case -19: return "cannot load the Word document " + Quoted(s.source);
    case -20: return "cannot load the Excel workbook " + Quoted(s.source);
    case -21: return "cannot load the PowerPoint presentation " + Quoted(s.source);
    case -22: return "the virtual printer is not available";
    case -23: return "the PDF library failed while writing " + Quoted(s.output);
    case -24: return "cannot load the picture " + Quoted(s.source);
    case -25: return "Word raised an error on " + Quoted(s.source);
    case -26: return "Excel raised an error on " + Quoted(s.source);
    case -27: return "PowerPoint raised an error on " + Quoted(s.source);
    case -28: return "the printed pages of " + Quoted(s.source) + " did not arrive";
    case -29: return "cannot open " + Quoted(s.output);
    case -30: return "the output path " + Quoted(s.output) + " is not correct";
    case -100: return "cannot read the program's own path";
    default: return "the conversion failed";
    }
}

bool QuietRequested() {
    const char* q = std::getenv("VELLUMATE_QUIET");
    return q && *q && std::strcmp(q, "0") != 0;
}

void ReportFailure(const std::string& programName, std::int32_t code, const RunSubject& subject) {
    if (code == 0 || QuietRequested()) return;
    platform::ClearStatusLine();
    std::string line = programName + ": " + FailureText(code, subject);
    // One line: texts of the string table may hold line breaks.
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    line += FormatString(" (%d)\n", static_cast<int>(code));
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

namespace {
volatile std::sig_atomic_t g_interrupt = 0;

extern "C" void NoteInterrupt(int signo) {
    g_interrupt = signo;
    std::signal(signo, SIG_DFL);  // the next one ends the program
}
}  // namespace

void CatchInterrupts() {
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction sa {};
        sa.sa_handler = NoteInterrupt;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(signo, &sa, nullptr);
    }
}

int InterruptSignal() { return g_interrupt; }

void ExitByInterrupt() {
    const int signo = g_interrupt;
    if (!signo) return;
    std::fflush(nullptr);
    std::signal(signo, SIG_DFL);
    std::raise(signo);
}

struct TerminalProgress::Members {
    platform::StatusLine line;
    int index = 0, count = 0;
    std::string name;
};

TerminalProgress::TerminalProgress() : m_(std::make_unique<Members>()) {}
TerminalProgress::~TerminalProgress() = default;

bool TerminalProgress::Active() const { return m_->line.Active(); }

std::string TerminalProgress::Describe(int index, int count, const std::string& name, Work work, int done,
                                       int total) {
    std::string text;
    if (count > 1) text = FormatString("file %d of %d: ", index + 1, count);
    text += name;
    if (total > 0)
        text += FormatString(work == Work::Topics ? ": topic %d of %d" : ": page %d of %d", done, total);
    return text;
}

void TerminalProgress::FileStarted(int index, int count, const std::string& source) {
    if (!Active()) return;
    m_->index = index;
    m_->count = count;
    m_->name = FileNamePart(source);
    m_->line.Set(Describe(index, count, m_->name, Work::Pages, 0, 0));
}

void TerminalProgress::Counted(Work work, int done, int total) {
    if (!Active()) return;
    m_->line.Set(Describe(m_->index, m_->count, m_->name, work, done, total));
}

}  // namespace vellumate
