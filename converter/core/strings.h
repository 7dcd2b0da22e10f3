// The converter's string table: every user-visible text by its numeric id.
// Ids are stable; the dialogs and the command line share them.
#pragma once

#include <string>

namespace vellumate {

enum StringId : int {
    IDS_PRODUCT_KEY_NAME = 128,
    IDS_GENERATING_LINKS = 132,
    IDS_GENERATING_OUTLINES = 133,
    IDS_URL_CONVERTED = 135,
    IDS_URL_FAILED = 136,
    IDS_PAGE_NUMBER = 141,
    IDS_WORD_LOAD_FAILED = 142,
    IDS_EXCEL_LOAD_FAILED = 143,
    IDS_POWERPOINT_LOAD_FAILED = 144,
    IDS_PRINTER_NOT_FOUND = 145,
    IDS_WORD_RISEN = 148,
    IDS_EXCEL_RISEN = 149,
    IDS_POWERPOINT_RISEN = 150,
    IDS_OUTPUT_PATH_WRONG = 153,
    IDS_ERROR_CAPTION = 2001,
    IDS_REGISTRY_SAVE_FAILED = 2003,
    IDS_IMPORTING_FILE = 2011,
    IDS_WRONG_COMMAND_LINE = 2014,
    IDS_LIST_LENGTHS_DIFFER = 2015,
    IDS_HTML_LOAD_FAILED = 2016,
    IDS_CHM_TOPIC_LOAD_FAILED = 2017,
    IDS_FOLDER_MISSING = 2028,
    IDS_COMPONENT_NOT_FOUND = 2029,
    IDS_COMPONENT_NOT_CREATED = 2030,
    IDS_HH_NOT_STARTED = 2031,
    IDS_HHC_NOT_PARSED = 2033,
    IDS_SOURCE_NOT_OPENED = 2034,
    IDS_OUTPUT_NOT_OPENED = 2042,
    IDS_FINISH_FAILED = 2046,
    IDS_ADDON_FAILED = 2047,
    IDS_PDF_FAILED = 2048,
    IDS_HELP_NOT_FOUND = 3022,
    IDS_HELP_FOLDER = 3030,
    IDS_GENERATING_PAGES = 7011,
    IDS_COMPRESSION_FIRST = 7014,  // 7014..7015
    IDS_CHARSET_FIRST = 7016,      // 7016..7034
    IDS_VERSION_FIRST = 7036,      // 7036..7037
    IDS_ORIENTATION_FIRST = 7038,  // 7038..7039
    IDS_PAPER_FIRST = 7040,        // 7040..7059
    IDS_KEYLENGTH_FIRST = 7060,    // 7060..7061
    IDS_LAYOUT_FIRST = 7062,       // 7062..7065
    IDS_MODE_FIRST = 7066,         // 7066..7069
    IDS_WIDTHADJ_FIRST = 7104,     // 7104..7106
    IDS_PRINTING = 7136,
    IDS_IMPORTING_PRINTED = 7137,
    IDS_PICTURE_ADDON_FAILED = 7140,
    IDS_PICTURE_LOAD_FAILED = 7141,
    IDS_ENGINE_FIRST = 7142,       // 7142..7144, in HtmlEngine's order
};

// The English text of a string id; empty for an id that is not in the table.
const std::string& LoadString(int id);

// printf-style formatting of a table text (or any format) into a std::string.
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vellumate
