// Profile (INI) files with the Win32 private-profile semantics.
//
// Sections and keys are case-insensitive. A missing file, section or key
// gives the default. Values lose their surrounding blanks and one pair of
// matching surrounding quotes. Files are UTF-8 with CR LF or LF line ends on
// read and LF on write. Every write rewrites the whole file under an advisory
// lock (flock) and replaces it by an atomic rename, so a reader in another
// process never sees a torn file and two writers never lose each other's
// changes. Any bytes at all parse (binary garbage gives lines that are not
// sections or entries).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Copies the value (or the default, trailing blanks removed) into buf with a
// zero, cut to size - 1 characters; answers the characters copied. With
// section null: all section names; with key null: all keys of the section;
// each zero-terminated, the list ended by a second zero (cut lists answer
// size - 2).
std::uint32_t GetPrivateProfileString(const char* section, const char* key, const char* def, char* buf,
                                      std::uint32_t size, const char* file);
// The value's leading sign and digits; the default when the key is missing
// or empty, 0 when the value has no digits.
int GetPrivateProfileInt(const char* section, const char* key, int def, const char* file);
// Writes key=value (the section is created at the end when missing). value
// null deletes the key, key null deletes the section, all three null flush
// (writes are never cached, so there is nothing to do). False on failure.
bool WritePrivateProfileString(const char* section, const char* key, const char* value, const char* file);

// The same for C++ callers.
std::string ProfileGetString(const std::string& file, std::string_view section, std::string_view key,
                             std::string_view def = {});
int ProfileGetInt(const std::string& file, std::string_view section, std::string_view key, int def);
bool ProfileSetString(const std::string& file, std::string_view section, std::string_view key, std::string_view value);
bool ProfileDeleteKey(const std::string& file, std::string_view section, std::string_view key);
bool ProfileDeleteSection(const std::string& file, std::string_view section);
std::vector<std::string> ProfileSections(const std::string& file);
std::vector<std::string> ProfileKeys(const std::string& file, std::string_view section);

// The parsed form of a profile text, for the calls above and for tests.
class ProfileText {
public:
    explicit ProfileText(std::string_view text);
    // False when the key is missing (a line without "=" is a key without a value).
    bool Get(std::string_view section, std::string_view key, std::string* value) const;
    std::vector<std::string> Sections() const;
    std::vector<std::string> Keys(std::string_view section) const;
    void Set(std::string_view section, std::string_view key, std::string_view value);
    bool DeleteKey(std::string_view section, std::string_view key);
    bool DeleteSection(std::string_view section);
    std::string Text() const;  // LF line ends

private:
    struct Line {
        std::string raw;      // the line as written (kept for lines we do not change)
        std::string section;  // for a section header: its name
        std::string key;      // for an entry: its key (trimmed)
        bool isSection = false;
        bool isEntry = false;
    };
    std::size_t FindSection(std::string_view section) const;  // index of the header, or npos
    std::size_t SectionEnd(std::size_t header) const;
    std::vector<Line> lines_;
};

}  // namespace platform
