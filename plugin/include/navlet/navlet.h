// The browser button's component, libnavlet.so, as a browser host sees it.
//
// A host creates the class CLSID_Navlet through the component runtime, gives
// the object its site (IObjectWithSite::SetSite) and, when the button or the
// menu entry is used, calls IOleCommandTarget::Exec. The object asks the site
// for the service SID_SWebBrowserApp, interface IWebBrowser2, reads the
// address of the page on display and starts the converter named by
// HKEY_CURRENT_USER "Software\Brindlecote\Tessaline Plugin" "ConverterPath"
// as `"CONVERTER" /url "ADDRESS"`, then waits for it in a wait window.
//
// Exec blocks its thread until the wait window ends. When the caller passes
// an out variant, it receives the outcome: VT_I4 with the converter's result
// code (its exit status read back as a signed byte: 246 -> -10) when the
// converter ended by itself, VT_ERROR E_ABORT when the user aborted it, and
// VT_ERROR with another failure code when it could not be started.
#pragma once

#include "platform/com.h"

namespace navlet {

// {066CD2EA-97B2-4F24-8BC5-8DFF68F55D46}
constexpr com::CLSID CLSID_Navlet{0x066CD2EA, 0x97B2, 0x4F24, {0x8B, 0xC5, 0x8D, 0xFF, 0x68, 0xF5, 0x5D, 0x46}};
// The button's identifier among the browser's extensions.
// {A749C3A6-9D6D-402A-8A61-E6D0133D9442}
constexpr com::GUID GUID_NavletExtension{0xA749C3A6, 0x9D6D, 0x402A, {0x8A, 0x61, 0xE6, 0xD0, 0x13, 0x3D, 0x94, 0x42}};

// The service a site offers for its browser.
constexpr com::GUID SID_SWebBrowserApp{0x0002DF05, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr com::IID IID_IWebBrowser2{0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

// The browser as the button uses it: the address of the page on display.
// Hosts of this suite implement just this much of it.
class IWebBrowser2 : public com::IUnknown {
public:
    // The page's address; the caller frees the string.
    virtual com::HRESULT get_LocationURL(com::BSTR* url) = 0;

protected:
    ~IWebBrowser2() = default;
};

// Where the converter's path is kept.
constexpr char kPluginKey[] = "Software\\Brindlecote\\Tessaline Plugin";
constexpr char kConverterPathValue[] = "ConverterPath";

// The native-messaging host of the browser extension and the extension's
// identifiers in the two browser families.
constexpr char kNativeHostName[] = "com.brindlecote.navlet";
constexpr char kNativeHostProgram[] = "navlet-host";
constexpr char kChromiumExtensionId[] = "jgcgcphgjpaojecbjjbeiohfmjndblph";
constexpr char kGeckoExtensionId[] = "navlet@vellumate.invalid";

}  // namespace navlet

template <>
inline constexpr com::IID com::iid_of<navlet::IWebBrowser2> = navlet::IID_IWebBrowser2;
