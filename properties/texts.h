// The sheet's texts from the language file "vmate.lng": a section per
// language, a key per control id or message number, and the key "LangID"
// with the language's numeric identifier.
#pragma once

#include <QString>

#include <string>
#include <vector>

namespace vmprops {

class Texts {
public:
    // `file` "" is the language file beside the program.
    Texts(std::string file, std::string language);

    const std::string& File() const { return file_; }
    const std::string& Language() const { return language_; }

    // The text of `id` in the language, with "%PRINTER_NAME%" and "\n"
    // replaced; `builtin` when the file, the section or the key is missing.
    QString Text(int id, const QString& builtin) const;

    // "English" first, then every other section in file order.
    std::vector<std::string> Languages() const;
    // The first section whose "LangID" is `langId`; "" when none is.
    std::string LanguageOfId(int langId) const;

private:
    std::string file_, language_;
};

// The language of the user's locale (LC_ALL, LC_MESSAGES, LANG) as a
// numeric language identifier (0x0409 for English, 0x0407 for German, ...);
// 0 when it has none.
int UserLanguageId();

}  // namespace vmprops
