// What the host gives the button object in place of a browser window: a
// site that offers the browser service, and a browser that knows the one
// address the extension sent.
#pragma once

#include "navlet/navlet.h"
#include "platform/com_server.h"

#include <string>

namespace navlet {

class CBrowser final : public com::server::Object<CBrowser, IWebBrowser2> {
public:
    explicit CBrowser(std::string url) : url_(std::move(url)) {}
    com::HRESULT get_LocationURL(com::BSTR* url) override;

private:
    std::string url_;
};

class CSite final : public com::server::Object<CSite, com::IServiceProvider> {
public:
    explicit CSite(std::string url) : browser_(com::ComPtr<CBrowser>::Attach(CBrowser::CreateOwned(std::move(url)))) {}
    com::HRESULT QueryService(const com::GUID& service, com::REFIID riid, void** ppv) override;

private:
    com::ComPtr<CBrowser> browser_;
};

}  // namespace navlet
