// Program, message-box, shell and process services, through the platform library.
#include "platform/cmdline.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "system.h"

namespace vellumate::sys {

std::string ProgramPath() { return platform::ProgramPath(); }

std::string CommandLineText(int argc, char** argv) { return platform::CommandLineTail(argc, argv); }

Answer MessageBox(std::string_view text, std::string_view caption, Icon icon, Buttons buttons) {
    platform::MsgIcon i = platform::MsgIcon::None;
    switch (icon) {
        case Icon::Error: i = platform::MsgIcon::Error; break;
        case Icon::Information: i = platform::MsgIcon::Information; break;
        case Icon::Warning: i = platform::MsgIcon::Warning; break;
        case Icon::Question: i = platform::MsgIcon::Question; break;
    }
    const auto answer = platform::MessageBox(
        caption, text, i, buttons == Buttons::YesNo ? platform::MsgButtons::YesNo : platform::MsgButtons::Ok);
    switch (answer) {
        case platform::MsgAnswer::Yes: return Answer::Yes;
        case platform::MsgAnswer::No: return Answer::No;
        default: return Answer::Ok;
    }
}

std::intptr_t ShellOpen(const std::string& path) { return platform::ShellOpen(path); }

bool StartProcess(const std::string& commandLine) { return platform::RunProgram(commandLine, false) != -1; }

bool RunProcessAndWait(const std::string& commandLine, int* exitCode) {
    const int status = platform::RunProgram(commandLine, true);
    if (status == -1) return false;
    *exitCode = status;
    return true;
}

std::string DocumentsFolder() { return platform::DocumentsFolder(); }

}  // namespace vellumate::sys
