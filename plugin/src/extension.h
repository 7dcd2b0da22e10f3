// The button object: the command target the browser calls when the button
// or the menu entry is used, and the object with a site that hands it the
// browser. One object per browser window.
#pragma once

#include "navlet/navlet.h"
#include "platform/com_server.h"

#include <string>
#include <string_view>

namespace navlet {

// The longest command line the converter is started with, in bytes.
constexpr std::size_t kMaxCommandLine = 32767;
// The longest converter path the registry may hold, in characters.
constexpr std::size_t kMaxConverterPath = 260;

// `"CONVERTER" /url "ADDRESS"`. A double quote inside the address is written
// as %22 (the same address to a web server), so it cannot end the quoted
// argument early. False when the line would be longer than kMaxCommandLine.
bool BuildConverterCommandLine(std::string_view converter, std::string_view address, std::string* line);

class IMyIEExtention final
    : public com::server::Object<IMyIEExtention, com::IOleCommandTarget, com::IObjectWithSite> {
public:
    // IOleCommandTarget
    com::HRESULT QueryStatus(const com::GUID* group, std::uint32_t count, com::OLECMD* commands,
                             com::OLECMDTEXT* text) override;
    com::HRESULT Exec(const com::GUID* group, std::uint32_t command, std::uint32_t options, com::VARIANT* in,
                      com::VARIANT* out) override;
    // IObjectWithSite
    com::HRESULT SetSite(com::IUnknown* site) override;
    com::HRESULT GetSite(com::REFIID riid, void** ppv) override;

private:
    // The page's address; throws ComError when there is no browser or it
    // cannot tell.
    std::string LocationUrl();

    com::ComPtr<IWebBrowser2> browser_;  // owned: one reference
};

}  // namespace navlet
