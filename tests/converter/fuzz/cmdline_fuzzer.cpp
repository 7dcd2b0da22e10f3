// Fuzz target for vellumate's command-line text: run flags, tokens, PDF
// switches, list text and path resolution. Whatever the text, none of them
// may crash, hang or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "command_line.h"
#include "list_file.h"
#include "paths.h"
#include "switches.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    std::string line = text;
    vellumate::RemoveRunFlags(&line);
    const auto tokens = vellumate::Tokenize(line);
    for (std::size_t first = 0; first <= tokens.size() && first < 4; ++first) {
        vellumate::PdfSettings settings;
        bool makeOne = false;
        vellumate::ParseSwitches(tokens, first, &settings, &makeOne);
        settings.ProtectionEnabled = true;
        vellumate::ParseSwitches(tokens, first, &settings, &makeOne);
    }
    for (const auto& t : tokens) {
        vellumate::StripBlanksAndQuotes(t);
        vellumate::StripQuotes(t);
    }

    const auto lines = vellumate::SplitListText(text);
    for (std::size_t i = 0; i + 1 < lines.size() && i < 8; ++i) {
        const std::string source = vellumate::ResolvePath(lines[i], "", "/opt/vm/bin/vellumate");
        vellumate::ResolvePath(lines[i + 1], source, "/opt/vm/bin/vellumate");
        vellumate::LowerExtension(lines[i]);
        vellumate::DisplayName(lines[i]);
    }
    return 0;
}
