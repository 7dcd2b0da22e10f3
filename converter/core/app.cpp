#include "app.h"

#include "command_line.h"
#include "converters.h"
#include "frame.h"
#include "router.h"
#include "list_file.h"
#include "paths.h"
#include "strings.h"
#include "switches.h"
#include "system.h"

namespace vellumate {
namespace {

DialogRunner g_dialog = nullptr;

constexpr char kUrlCaption[] = "Tessaline Quorvel";

std::string HelpFilePath(const std::string& programPath) { return FolderPart(programPath) + "/help.chm"; }

std::string SaveFolder() {
    std::string folder;
    if (ReadRegString("", "SaveFolder", &folder) && sys::Exists(folder)) return folder;
    return sys::DocumentsFolder();
}

void SetFileFlags(ConversionContext& ctx, size_t i, size_t count) {
    ctx.firstFile = i == 0;
    ctx.lastFile = i + 1 == count;
}

// The list's sources after line i, as the loop passes them on.
void SetNextSources(ConversionContext& ctx, const std::vector<std::string>& lines, size_t i) {
    ctx.nextSources.clear();
    for (size_t k = i + 1; k < lines.size() && ctx.nextSources.size() < ctx.kNextSources; ++k)
        ctx.nextSources.push_back(StripBlanksAndQuotes(lines[k]));
}

// Names file i of count, resolved as ConvertFile resolves it, for the
// message of a failed run and the progress display.
void StartFile(ConversionContext& ctx, size_t i, size_t count, const std::string& source, const std::string& output) {
    const std::string src = ResolveSource(ctx, source);
    const std::string out = src.empty() ? std::string() : ResolvePath(output, src, ctx.programPath);
    ctx.subject.source = src.empty() ? source : src;
    ctx.subject.output = out.empty() ? output : out;
    if (ctx.progress) ctx.progress->FileStarted(static_cast<int>(i), static_cast<int>(count), ctx.subject.source);
}

}  // namespace

void SetDialogRunner(DialogRunner runner) { g_dialog = runner; }

bool IsSwitchName(const std::string& token) {
    static const char* const kNames[] = {
        "/all2one",     "/author",      "/subj",         "/title",        "/keywords",    "/compress",
        "/ver",         "/charset",     "/psize",        "/porient",      "/margin-left", "/margin-right",
        "/margin-top",  "/margin-bottom", "/widthadj",   "/pagenumbers",  "/forcesizes",  "/excludeorphanpages",
        "/preservelinks", "/centerwnd", "/fitwnd",       "/hidemenu",     "/hidetoolbar", "/hidewui",
        "/playout",     "/pmode",       "/protect",      "/allowcpy",     "/allowmodif",  "/allowprn",
        "/ownerpass",   "/userpass",    "/keylen",       "/embedfonts",   "/engine",
    };
    const std::string lower = ToLowerAscii(token);
    for (const char* n : kNames)
        if (lower == n) return true;
    return false;
}

std::int32_t RunProgram(ConversionContext& ctx, const std::string& programPath, std::string commandLine) {
    const size_t slash = programPath.rfind('/');
    if (slash == std::string::npos || slash == 0) return kNoProgramPath;
    ctx.programPath = programPath;

    const RunFlags flags = RemoveRunFlags(&commandLine);
    ctx.logFlag = flags.addLog;
    ctx.invertFlag = flags.invertAll;
    ctx.openAfterFlag = flags.autoLaunch;

    if (commandLine.empty()) {
        if (g_dialog) return g_dialog(ctx);
        // Built without the dialog: nothing to do without arguments.
        sys::MessageBox(LoadString(IDS_WRONG_COMMAND_LINE), LoadString(IDS_ERROR_CAPTION), sys::Icon::Error);
        return -1;
    }
    const std::vector<std::string> tokens = Tokenize(commandLine);
    if (tokens.empty()) return -1;  // only blanks: malformed

    const std::string& mode = tokens[0];
    if (mode == "/?" || mode == "/h" || mode == "/help") {
        ShowHelpTopic(programPath, "_CMDLine.html");
        return 0;
    }
    ctx.interactive = false;
    if (mode == "/inlist") return RunListMode(ctx, tokens);
    if (mode == "/url") return RunUrlMode(ctx, tokens);
    return RunSingleFile(ctx, tokens);
}

void ShowHelpTopic(const std::string& programPath, const std::string& topic) {
    const std::string help = HelpFilePath(programPath);
    if (!sys::CanOpenForReading(help, true)) {
        sys::MessageBox(FormatString(LoadString(IDS_HELP_NOT_FOUND).c_str(), help.c_str()),
                        LoadString(IDS_ERROR_CAPTION), sys::Icon::Error);
        return;
    }
    // The viewer is the program "hh" beside this one. The command is not cut
    // to a fixed length: a cut command would name another file.
    const std::string viewer = FolderPart(programPath) + "/hh";
    std::string command = "\"" + viewer + "\" \"" + help;
    if (!topic.empty()) command += "::/" + LoadString(IDS_HELP_FOLDER) + "/" + topic;
    command += "\"";
    sys::StartProcess(command);
}

std::int32_t RunSingleFile(ConversionContext& ctx, const std::vector<std::string>& tokens) {
    const std::string source = StripBlanksAndQuotes(tokens[0]);
    std::string output;
    size_t first = 1;
    // A second token is the output unless it is a switch; an absolute output
    // path begins with "/" too, so only the switch names count as switches.
    if (tokens.size() > 1 && !IsSwitchName(tokens[1])) {
        output = StripBlanksAndQuotes(tokens[1]);
        first = 2;
    } else {
        output = source + "." + ctx.outputExtension;
    }
    if (ParseSwitches(tokens, first, &ctx.settings, &ctx.MakeOne) != 0) return -1;
    ctx.MakeOne = false;
    StartFile(ctx, 0, 1, source, output);
    return ConvertFile(ctx, source, output);
}

std::string CompleteUrl(const std::string& url) {
    if (url == "about:blank" || url.starts_with("http://") || url.starts_with("file://") ||
        url.starts_with("https://"))
        return url;
    return "http://" + url;
}

std::string UrlOutputPath(const std::string& folder) {
    const std::string base = folder + "/ConvertedDocument";
    std::string name = base + ".pdf";
    for (int counter = 1; sys::Exists(name) && counter < 1000000; ++counter)
        name = FormatString("%s_%d.pdf", base.c_str(), counter);
    return name;
}

std::int32_t RunUrlMode(ConversionContext& ctx, const std::vector<std::string>& tokens) {
    if (tokens.size() < 2) return -1;
    const std::string url = CompleteUrl(StripBlanksAndQuotes(tokens[1]));
    ctx.subject.url = url;
    if (ParseSwitches(tokens, 2, &ctx.settings, &ctx.MakeOne) != 0) return -1;
    ctx.MakeOne = false;
    const std::string output = UrlOutputPath(SaveFolder());
    ctx.subject.output = output;
    if (ctx.progress) ctx.progress->FileStarted(0, 1, url);
    const std::int32_t result = ConvertUrl(ctx, url, output);
    if (result != 0) {
        sys::MessageBox(FormatString(LoadString(IDS_URL_FAILED).c_str(), url.c_str(), static_cast<int>(result)),
                        kUrlCaption, sys::Icon::Error);
    } else {
        const auto answer =
            sys::MessageBox(FormatString(LoadString(IDS_URL_CONVERTED).c_str(), url.c_str(), output.c_str()),
                            kUrlCaption, sys::Icon::Information, sys::Buttons::YesNo);
        if (answer == sys::Answer::Yes) sys::ShellOpen(output);
    }
    return result;
}

std::int32_t RunListMode(ConversionContext& ctx, const std::vector<std::string>& tokens) {
    if (tokens.size() < 3) return -1;
    const std::string& variant = tokens[2];
    if (variant == "/outlist") {
        if (tokens.size() < 4) return -1;
        const std::string in = StripBlanksAndQuotes(tokens[1]);
        const std::string out = StripBlanksAndQuotes(tokens[3]);
        ctx.subject.inputList = in;
        ctx.subject.outputList = out;
        if (ParseSwitches(tokens, 4, &ctx.settings, &ctx.MakeOne) != 0) return -1;
        return RunInputList(ctx, in, out);
    }
    if (variant == "/outdir") {
        if (tokens.size() < 4) return -1;
        const std::string in = StripQuotes(tokens[1]);
        const std::string folder = StripQuotes(tokens[3]);
        ctx.subject.inputList = in;
        ctx.subject.folder = folder;
        if (ParseSwitches(tokens, 4, &ctx.settings, &ctx.MakeOne) != 0) return -1;
        return RunInputListToFolder(ctx, in, folder);
    }
    return 0;  // unknown variant: nothing to convert
}

std::int32_t RunInputList(ConversionContext& ctx, const std::string& inputList, const std::string& outputList) {
    std::vector<std::string> in, out;
    if (!ReadListFile(inputList, &in)) return -4;
    if (!ReadListFile(outputList, &out)) return -5;
    if (in.size() != out.size()) {
        if (!ctx.MakeOne) return -3;
        if (in.empty()) return -16;
        // Merged into the first output line, which must exist.
        if (out.empty()) return -5;
    }
    for (size_t i = 0; i < in.size(); ++i) {
        SetFileFlags(ctx, i, in.size());
        const std::string source = StripBlanksAndQuotes(in[i]);
        const std::string output = StripBlanksAndQuotes(ctx.MakeOne ? out[0] : out[i]);
        StartFile(ctx, i, in.size(), source, output);
        SetNextSources(ctx, in, i);
        if (std::int32_t r = ConvertFile(ctx, source, output)) return r;
    }
    return 0;
}

std::string OutputNameForFolder(const std::string& line, const std::string& extension) {
    return FileNamePart(line) + "." + extension;
}

std::int32_t RunInputListToFolder(ConversionContext& ctx, const std::string& inputList, const std::string& folder) {
    std::vector<std::string> in;
    if (!ReadListFile(inputList, &in)) return -4;
    if (!sys::Exists(folder)) {
        sys::MessageBox(FormatString(LoadString(IDS_FOLDER_MISSING).c_str(), folder.c_str()),
                        LoadString(IDS_ERROR_CAPTION), sys::Icon::Error);
        return -2;
    }
    for (size_t i = 0; i < in.size(); ++i) {
        const std::string source = StripBlanksAndQuotes(in[i]);
        const std::string named = StripBlanksAndQuotes(ctx.MakeOne ? in[0] : in[i]);
        std::string output = folder;
        if (!output.ends_with("/")) output += "/";
        output += OutputNameForFolder(named, ctx.outputExtension);
        SetFileFlags(ctx, i, in.size());
        StartFile(ctx, i, in.size(), source, output);
        SetNextSources(ctx, in, i);
        if (std::int32_t r = ConvertFile(ctx, source, output)) return r;
    }
    return 0;
}

}  // namespace vellumate
