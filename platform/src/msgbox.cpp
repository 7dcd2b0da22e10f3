// Message boxes on standard error, with the scripted answer and the log.
#include "platform/msgbox.h"

#include "platform/modules.h"
#include "platform/msgbox_module.h"

#include "platform/status_line.h"
#include "platform/text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

namespace {

std::mutex g_mu;
MessageBoxUi g_ui;
std::size_t g_scriptIndex = 0;

std::vector<MsgAnswer> ButtonsOf(MsgButtons b) {
    switch (b) {
    case MsgButtons::Ok: return {MsgAnswer::Ok};
    case MsgButtons::OkCancel: return {MsgAnswer::Ok, MsgAnswer::Cancel};
    case MsgButtons::YesNo: return {MsgAnswer::Yes, MsgAnswer::No};
    case MsgButtons::YesNoCancel: return {MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Cancel};
    case MsgButtons::RetryCancel: return {MsgAnswer::Retry, MsgAnswer::Cancel};
    case MsgButtons::AbortRetryIgnore: return {MsgAnswer::Abort, MsgAnswer::Retry, MsgAnswer::Ignore};
    }
    return {MsgAnswer::Ok};
}

MsgAnswer DefaultAnswer(MsgButtons b) {
    switch (b) {
    case MsgButtons::Ok: return MsgAnswer::Ok;
    case MsgButtons::YesNo: return MsgAnswer::No;
    case MsgButtons::AbortRetryIgnore: return MsgAnswer::Abort;
    default: return MsgAnswer::Cancel;
    }
}

// The next word of the script (lower case), when a script is set.
std::optional<std::string> ScriptedWord() {
    const char* env = std::getenv("VELLUMATE_MSGBOX_ANSWER");
    if (!env || !*env) return std::nullopt;
    std::vector<std::string> list;
    std::string cur;
    for (const char* p = env;; ++p) {
        if (*p == ',' || !*p) {
            list.push_back(FoldCase(cur));
            cur.clear();
            if (!*p) break;
        } else if (*p != ' ') {
            cur += *p;
        }
    }
    return list[std::min(g_scriptIndex++, list.size() - 1)];
}

// The scripted answer for this box when a script is set (the default when
// the scripted word is none of its buttons).
std::optional<MsgAnswer> ScriptedAnswer(MsgButtons b) {
    std::optional<std::string> word = ScriptedWord();
    if (!word) return std::nullopt;
    for (MsgAnswer a : ButtonsOf(b))
        if (*word == MsgAnswerName(a)) return a;
    return DefaultAnswer(b);
}

void AppendLine(const std::string& line) {
    const char* path = std::getenv("VELLUMATE_MSGBOX_LOG");
    if (!path || !*path) return;
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    // One write per line, so lines of several processes never interleave.
    ssize_t n = write(fd, line.data(), line.size());
    (void)n;
    close(fd);
}

void AppendLog(std::string_view caption, std::string_view text, const char* icon, const char* buttons,
               const char* answer) {
    AppendLine("{\"caption\":" + JsonQuote(caption) + ",\"text\":" + JsonQuote(text) + ",\"icon\":\"" + icon +
               "\",\"buttons\":\"" + buttons + "\",\"answer\":\"" + answer + "\"}\n");
}

}  // namespace

const char* MsgIconName(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::None: return "none";
    case MsgIcon::Error: return "error";
    case MsgIcon::Warning: return "warning";
    case MsgIcon::Information: return "information";
    case MsgIcon::Question: return "question";
    }
    return "none";
}

const char* MsgButtonsName(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::Ok: return "ok";
    case MsgButtons::OkCancel: return "okcancel";
    case MsgButtons::YesNo: return "yesno";
    case MsgButtons::YesNoCancel: return "yesnocancel";
    case MsgButtons::RetryCancel: return "retrycancel";
    case MsgButtons::AbortRetryIgnore: return "abortretryignore";
    }
    return "ok";
}

const char* MsgAnswerName(MsgAnswer answer) {
    switch (answer) {
    case MsgAnswer::Ok: return "ok";
    case MsgAnswer::Cancel: return "cancel";
    case MsgAnswer::Abort: return "abort";
    case MsgAnswer::Retry: return "retry";
    case MsgAnswer::Ignore: return "ignore";
    case MsgAnswer::Yes: return "yes";
    case MsgAnswer::No: return "no";
    }
    return "ok";
}

std::string JsonQuote(std::string_view s) {
    std::string clean = IsValidUtf8(s) ? std::string(s) : Utf8FromUtf16(Utf16FromUtf8(s));
    std::string out = "\"";
    for (unsigned char c : clean) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

bool HasDisplay() {
    const char* ui = std::getenv("VELLUMATE_UI");
    if (ui && FoldCase(ui) == "none") return false;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

void SetMessageBoxUi(MessageBoxUi ui) {
    std::lock_guard lock(g_mu);
    g_ui = std::move(ui);
}

void UseMessageBoxModule() {
    SetMessageBoxUi([](std::string_view caption, std::string_view text, MsgIcon icon,
                       MsgButtons buttons) -> std::optional<MsgAnswer> {
        // Opened once, by the first box; a missing module is said once.
        static MessageBoxModuleFn* const show = [] {
            std::string why;
            auto* entry = reinterpret_cast<MessageBoxModuleFn*>(
                OpenModuleEntry({}, kMessageBoxModule, kMessageBoxEntry, kMessageBoxModuleAbi, &why));
            if (!entry) std::fprintf(stderr, "%s; message boxes go to standard error\n", why.c_str());
            return entry;
        }();
        return show ? show(caption, text, icon, buttons) : std::nullopt;
    });
}

MsgAnswer MessageBox(std::string_view caption, std::string_view text, MsgIcon icon, MsgButtons buttons) {
    std::unique_lock lock(g_mu);
    std::optional<MsgAnswer> scripted = ScriptedAnswer(buttons);
    MessageBoxUi ui = g_ui;
    lock.unlock();
    std::optional<MsgAnswer> answer;
    // A scripted answer never waits for a person.
    if (!scripted && ui && HasDisplay()) answer = ui(caption, text, icon, buttons);
    if (!answer) {
        std::string line = std::string(caption) + ": " + std::string(text) + "\n";
        ClearStatusLine();
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        answer = scripted ? *scripted : DefaultAnswer(buttons);
    }
    AppendLog(caption, text, MsgIconName(icon), MsgButtonsName(buttons), MsgAnswerName(*answer));
    return *answer;
}

void MessageBeep() {
    std::fputc('\a', stderr);
    std::fflush(stderr);
    AppendLine("{\"beep\":true}\n");
}

bool HeadlessWaitBox(std::string_view caption, std::string_view text) {
    std::unique_lock lock(g_mu);
    const bool abort = ScriptedWord() == "abort";
    lock.unlock();
    std::string line = std::string(caption) + ": " + std::string(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    AppendLog(caption, text, "none", "abort", abort ? "abort" : "none");
    return abort;
}

}  // namespace platform
