// vellumate: converts documents, pictures and web pages into PDF files.
#include <cstdio>

#include "app.h"
#include "console.h"
#include "frame.h"
#include "paths.h"
#include "platform/com.h"
#include "system.h"
#include "ui.h"

int main(int argc, char** argv) {
    const std::string name = argc > 0 && argv[0] && *argv[0] ? vellumate::FileNamePart(argv[0]) : "vellumate";
    const std::string programPath = vellumate::sys::ProgramPath();
    switch (vellumate::StandardOptionOf(argc, argv)) {
    case vellumate::StandardOption::Help:
        std::fputs(vellumate::UsageText(name, vellumate::FolderPart(programPath)).c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case vellumate::StandardOption::Version:
        std::fputs(vellumate::VersionText(name).c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case vellumate::StandardOption::None: break;
    }

    com::CoInitialize();
    vellumate::ui::Install();
    std::int32_t result;
    {
        vellumate::ConversionContext ctx;
        // The terminal's progress line and interrupts; the main dialog, when it
        // runs, puts its own window here.
        vellumate::TerminalProgress terminal;
        ctx.progress = &terminal;
        vellumate::CatchInterrupts();
        result = vellumate::RunProgram(ctx, programPath, vellumate::sys::CommandLineText(argc, argv));
        // The objects go before the runtime that loaded their libraries.
        vellumate::ReleaseComObjects(ctx);
        ctx.progress = nullptr;
        // An interrupted run says so, whatever step it stopped in.
        vellumate::ReportFailure(name, vellumate::InterruptSignal() ? vellumate::kCancelled : result, ctx.subject);
    }
    com::CoUninitialize();
    vellumate::ExitByInterrupt();
    // The exit status keeps the result modulo 256 (-1 -> 255, -100 -> 156).
    return static_cast<int>(static_cast<std::uint32_t>(result) & 0xFFu);
}
