// The button's string table (English; the ids are the resource ids).
#pragma once

namespace navlet {

enum StringId {
    IDS_MENU_TEXT = 2,
    IDS_BUTTON_TEXT = 3,
    IDS_ABORT = 4,
    IDS_PLEASE_WAIT = 5,
    IDS_NO_REGISTRY_KEY = 104,
    IDS_ERROR = 105,
    IDS_NO_CONVERTER_PATH = 106,
    IDS_ADDRESS_TOO_LONG = 107,
    IDS_WAIT_CAPTION = 2104,
};

// The text of an id; "" for an id the table does not have.
const char* LoadString(int id);

}  // namespace navlet
