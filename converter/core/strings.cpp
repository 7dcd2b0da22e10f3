#include "strings.h"

#include <cstdarg>
#include <cstdio>
#include <unordered_map>
#include <vector>

namespace vellumate {
namespace {

const std::unordered_map<int, std::string>& Table() {
    static const std::unordered_map<int, std::string> table = {
        {128, "Vellumate Quorvel"},
        {132, "Generating links..."},
        {133, "Generating outlines..."},
        {135, "URL \"%s\" is converted to PDF\nand saved as \"%s\"\n\nDo you want to open it?"},
        {136, "URL \"%s\" can't be converted to PDF\n\nError code = %d"},
        {141, "Page %d"},
        {142, "Can't load MS Word object"},
        {143, "Can't load MS Excel object"},
        {144, "Can't load MS Power Point object"},
        {145, "Can't find printer \"%s\".\n\nConversion is aborted."},
        {148, "MS Word has risen an exception.\nApplication will be closed."},
        {149, "MS Excel has risen an exception.\nApplication will be closed."},
        {150, "MS PowerPoint has risen an exception.\nApplication will be closed."},
        {153, "Output path is not correct."},
        {2001, "Error"},
        {2003, "Failed to save string in registry."},
        {2011, "Importing file (%d of %d):\n"},
        {2014, "Wrong command line format! See application help for more information."},
        {2015, "The number of source and destenation files is not matches."},
        {2016, "Can't load HTML-file in COM object."},
        {2017, "Can't load decompiled HTML-file in COM object."},
        {2028, "Folder %s does not exists. Can't save file(s)."},
        {2029, "Can't find component \"%s\".\n\nConversion is aborted."},
        {2030, "Can't create an instance of \"%s\" component.\n\nConversion is aborted."},
        {2031, "Can't run hh.exe for decompile CHM.\n\nConversion is aborted."},
        {2033, "Can't parse HHC-file.\n\nConversion is aborted."},
        {2034, "Can't open file \"%s\".\nFile is missing or blocked."},
        {2042, "Can't open file \"%s\".\nFile may be used by another application."},
        {2046, "Error occured while finishing conversion."},
        {2047, "Error occured in Tessaline Addon.\n\nIt is possible that document you trying to convert is too big."},
        {2048, "Error occured in Corvanth.\n\nIt is possible that document you trying to convert is too big."},
        {3022, "Can not find help file \"%s\".\nTry to reinstall application."},
        {3030, "Vellumate"},
        {7011, "Generating pages...\nPage %d of %d"},
        {7014, "None"},
        {7015, "Flate (ZIP)"},
        {7016, "ANSI"},
        {7017, "Default"},
        {7018, "SYMBOL"},
        {7019, "MAC"},
        {7020, "SHIFTJIS"},
        {7021, "HANGEUL"},
        {7022, "JOHAB"},
        {7023, "GB2312"},
        {7024, "CHINESEBIG5"},
        {7025, "GREEK"},
        {7026, "TURKISH"},
        {7027, "VIETNAMESE"},
        {7028, "HEBREW"},
        {7029, "ARABIC"},
        {7030, "BALTIC"},
        {7031, "RUSSIAN"},
        {7032, "THAI"},
        {7033, "EASTEUROPE"},
        {7034, "OEM"},
        {7036, "Acrobat 4.x"},
        {7037, "Acrobat 5.x"},
        {7038, "Portrait"},
        {7039, "Landscape"},
        {7040, "UserDefined"},
        {7041, "Letter"},
        {7042, "A4"},
        {7043, "A3"},
        {7044, "Legal"},
        {7045, "B5"},
        {7046, "C5"},
        {7047, "8 x 11"},
        {7048, "B4"},
        {7049, "A5"},
        {7050, "Folio"},
        {7051, "Executive"},
        {7052, "EnvB4"},
        {7053, "EnvB5"},
        {7054, "EnvC6"},
        {7055, "EnvDL"},
        {7056, "EnvMonarch"},
        {7057, "Env9"},
        {7058, "Env10"},
        {7059, "Env11"},
        {7060, "40 bit"},
        {7061, "128 bit"},
        {7062, "Single page"},
        {7063, "One column"},
        {7064, "Two columns (left)"},
        {7065, "Two columns (right)"},
        {7066, "None"},
        {7067, "Outline visible"},
        {7068, "Thumbnail visible"},
        {7069, "Full-screen mode"},
        {7104, "Adjust page width to fit content"},
        {7105, "Adjust content width to fit page"},
        {7106, "Don't adjust any width"},
        {7136, "Printing document to a virtual printer..."},
        {7137, "Importing printed pages..."},
        {7140, "Error occured in Pictarel Addon."},
        {7141, "Can't load image file in COM object."},
    };
    return table;
}

}  // namespace

const std::string& LoadString(int id) {
    static const std::string empty;
    auto it = Table().find(id);
    return it == Table().end() ? empty : it->second;
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, again);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}

}  // namespace vellumate
