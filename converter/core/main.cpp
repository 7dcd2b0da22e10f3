// vellumate: converts documents, pictures and web pages into PDF files.
#include "app.h"
#include "driver.h"
#include "platform/com.h"
#include "system.h"
#include "ui.h"

int main(int argc, char** argv) {
    com::CoInitialize();
    vellumate::ui::Install();
    std::int32_t result;
    {
        vellumate::ConversionContext ctx;
        result = vellumate::RunProgram(ctx, vellumate::sys::ProgramPath(), vellumate::sys::CommandLineText(argc, argv));
        // The objects go before the runtime that loaded their libraries.
        vellumate::ReleaseComObjects(ctx);
    }
    com::CoUninitialize();
    // The exit status keeps the result modulo 256 (-1 -> 255, -100 -> 156).
    return static_cast<int>(static_cast<std::uint32_t>(result) & 0xFFu);
}
