// What the application objects of libvmoffice.so offer beside automation: a
// client names the document it will open next, and the office loads it while
// the client is busy elsewhere (waiting for the printed pages of the current
// one). A client queries for it and does without it when it is absent.
#pragma once

#include <cstdint>

#include "platform/com.h"

namespace vmoffice {

// Which application's Open will ask for the file.
enum OfficeKind : std::int32_t { kOfficeText = 0, kOfficeSpreadsheet = 1, kOfficePresentation = 2 };

class IOfficeLookahead : public com::IUnknown {
public:
    // `fileName` is the file that the Open of `kind`'s collection (Documents,
    // Workbooks, Presentations) will soon be asked for, with `readOnly` as
    // that Open will ask. An announcement changes nothing that Open returns:
    // a file that cannot be loaded ahead fails at its Open with its own
    // error, and a file changed meanwhile is loaded again. A new
    // announcement replaces the last one. S_OK; E_INVALIDARG for a null name
    // or an unknown kind; E_FAIL after Quit.
    virtual com::HRESULT AnnounceDocument(com::BSTR fileName, std::int32_t kind, com::VARIANT_BOOL readOnly) = 0;
};

constexpr com::IID IID_IOfficeLookahead{0x5B7E2C19, 0x4D3A, 0x4E86, {0x9C, 0x0F, 0x27, 0xA1, 0x6D, 0xE4, 0x38, 0xB5}};

}  // namespace vmoffice

namespace com {
template <>
inline constexpr IID iid_of<vmoffice::IOfficeLookahead> = vmoffice::IID_IOfficeLookahead;
}  // namespace com
