#include "host_site.h"

namespace navlet {

com::HRESULT CBrowser::get_LocationURL(com::BSTR* url) {
    if (!url) return com::E_POINTER;
    *url = com::BstrFromUtf8(url_);
    return *url ? com::S_OK : com::E_OUTOFMEMORY;
}

com::HRESULT CSite::QueryService(const com::GUID& service, com::REFIID riid, void** ppv) {
    if (!ppv) return com::E_POINTER;
    *ppv = nullptr;
    if (!(service == SID_SWebBrowserApp)) return com::E_NOINTERFACE;
    return browser_->QueryInterface(riid, ppv);
}

}  // namespace navlet
