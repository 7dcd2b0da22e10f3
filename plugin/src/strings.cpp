#include "strings.h"

namespace navlet {

const char* LoadString(int id) {
    switch (id) {
    case IDS_MENU_TEXT: return "Convert to PDF using Tessaline Quorvel...";
    case IDS_BUTTON_TEXT: return "Convert to PDF";
    case IDS_ABORT: return "Abort";
    case IDS_PLEASE_WAIT: return "Please wait while page is being converted...";
    case IDS_NO_REGISTRY_KEY: return "Can't find registry record.\nReinstall the application.";
    case IDS_ERROR: return "Error";
    case IDS_NO_CONVERTER_PATH: return "Can't find \"ConverterPath\".\nReinstall the application.";
    case IDS_ADDRESS_TOO_LONG: return "The address of this page is too long to be passed to the converter.";
    case IDS_WAIT_CAPTION: return "Convert to PDF";
    default: return "";
    }
}

}  // namespace navlet
