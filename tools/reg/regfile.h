// Registry text files (".reg"): the form `reg export` writes and
// `reg import` reads, and the key names of the command line.
#pragma once

#include "platform/registry.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace regtool {

// A key name as people write it: HKLM\..., HKEY_LOCAL_MACHINE\..., HKCU,
// HKCR and their long names, case-insensitive. False for anything else.
bool ParseKeyName(std::string_view text, platform::HKEY* root, std::string* subKey);
// The long form, "HKEY_LOCAL_MACHINE\Software\...".
std::string LongKeyName(platform::HKEY root, std::string_view subKey);

struct ValueRecord {
    std::string name;  // "" is the default value
    platform::DWORD type = platform::REG_SZ;
    std::vector<std::uint8_t> data;
    bool remove = false;  // "name"=-
};

struct KeyRecord {
    std::string name;  // the full key name as written
    bool remove = false;  // [-KEY]
    std::vector<ValueRecord> values;
    int line = 0;
};

struct ParsedFile {
    std::vector<KeyRecord> keys;
    std::vector<std::string> errors;  // "line N: ..."; a file with errors is not applied
};

// Reads the text of a registry file: UTF-8, or UTF-16LE with its byte-order
// mark; "Windows Registry Editor Version 5.00" or "REGEDIT4" first.
ParsedFile ParseRegFile(std::string_view bytes);

std::string FormatHeader();  // the first line and a blank one
std::string FormatKeyLine(std::string_view name);
std::string FormatValueLine(const ValueRecord& v);

}  // namespace regtool
