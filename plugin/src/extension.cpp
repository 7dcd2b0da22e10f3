#include "extension.h"

#include "platform/msgbox.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "strings.h"
#include "wait_window.h"

namespace navlet {

namespace {

using com::HRESULT;

void ErrorBox(std::string_view text) {
    platform::MessageBox(LoadString(IDS_ERROR), text, platform::MsgIcon::Error);
}

// ConverterPath of the plug-in key, opened (created when missing) for
// reading. The text of the box to show on failure in *failure.
bool ReadConverterPath(std::string* path, int* failure) {
    platform::RegKeyHolder key;
    if (platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, kPluginKey, 0, nullptr, platform::REG_OPTION_NON_VOLATILE,
                                 platform::KEY_READ, nullptr, key.Out(), nullptr) != platform::ERROR_SUCCESS) {
        *failure = IDS_NO_REGISTRY_KEY;
        return false;
    }
    *failure = IDS_NO_CONVERTER_PATH;
    // Room for the longest path in UTF-8 and its zero; a longer one answers ERROR_MORE_DATA.
    char buf[kMaxConverterPath * 4 + 1];
    platform::DWORD type = 0, size = sizeof buf;
    if (platform::RegQueryValueEx(key.Get(), kConverterPathValue, nullptr, &type,
                                  reinterpret_cast<platform::BYTE*>(buf), &size) != platform::ERROR_SUCCESS ||
        (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) || size == 0)
        return false;
    std::string value(buf, size);
    value.resize(value.find('\0') == std::string::npos ? value.size() : value.find('\0'));
    if (value.empty() || platform::Utf16FromUtf8(value).size() > kMaxConverterPath) return false;
    *path = value;
    return true;
}

void SetOutcome(com::VARIANT* out, ConverterRun& run) {
    if (!out) return;
    com::VariantClear(out);
    if (run.Poll() == ConverterRun::State::NotStarted) {
        out->vt = com::VT_ERROR;
        out->scode = com::HResultFromWin32(2);  // the file was not found or could not run
    } else if (run.Aborted()) {
        out->vt = com::VT_ERROR;
        out->scode = com::E_ABORT;
    } else {
        out->vt = com::VT_I4;
        out->lVal = static_cast<std::int8_t>(static_cast<std::uint8_t>(run.ExitStatus()));
    }
}

}  // namespace

bool BuildConverterCommandLine(std::string_view converter, std::string_view address, std::string* line) {
    std::string text = "\"" + std::string(converter) + "\" /url \"";
    for (char c : address) {
        if (c == '"')
            text += "%22";
        else
            text += c;
    }
    text += '"';
    if (text.size() > kMaxCommandLine) return false;
    *line = std::move(text);
    return true;
}

HRESULT IMyIEExtention::QueryStatus(const com::GUID*, std::uint32_t count, com::OLECMD* commands, com::OLECMDTEXT*) {
    if (!commands) return com::E_POINTER;
    if (count == 0) return com::E_UNEXPECTED;
    commands[0].cmdf = com::OLECMDF_ENABLED;
    return com::S_OK;
}

std::string IMyIEExtention::LocationUrl() {
    if (!browser_) throw com::ComError(com::E_POINTER);
    com::Bstr url;
    com::Check(browser_->get_LocationURL(url.Out()));
    std::string text = url.Utf8();
    if (text.empty()) throw com::ComError(com::E_FAIL);
    return text;
}

HRESULT IMyIEExtention::Exec(const com::GUID*, std::uint32_t, std::uint32_t, com::VARIANT*, com::VARIANT* out) {
    return com::server::Trap([&]() -> HRESULT {
        InstallDialogMessageBoxes();
        std::string url;
        try {
            url = LocationUrl();
        } catch (const com::ComError& e) {
            ErrorBox(e.ErrorMessage());
            return com::E_FAIL;
        }
        std::string converter;
        int failure = 0;
        if (!ReadConverterPath(&converter, &failure)) {
            ErrorBox(LoadString(failure));
            return com::SELFREG_E_CLASS;
        }
        std::string line;
        if (!BuildConverterCommandLine(converter, url, &line)) {
            // Cutting the address would convert another page than the one on display.
            ErrorBox(LoadString(IDS_ADDRESS_TOO_LONG));
            return com::E_INVALIDARG;
        }
        ConverterRun run(std::move(line));
        RunWaitWindow(run);
        SetOutcome(out, run);
        return com::S_OK;
    });
}

HRESULT IMyIEExtention::SetSite(com::IUnknown* site) {
    return com::server::Trap([&]() -> HRESULT {
        browser_ = nullptr;
        if (!site) return com::S_OK;
        com::ComPtr<com::IServiceProvider> provider;
        HRESULT hr = site->QueryInterface(com::IID_IServiceProvider,
                                          reinterpret_cast<void**>(provider.ReleaseAndGetAddressOf()));
        if (com::FAILED(hr)) return hr;
        if (!provider) return com::E_NOINTERFACE;
        com::ComPtr<IWebBrowser2> browser;
        hr = provider->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2,
                                    reinterpret_cast<void**>(browser.ReleaseAndGetAddressOf()));
        if (com::SUCCEEDED(hr)) browser_ = std::move(browser);
        return hr;
    });
}

HRESULT IMyIEExtention::GetSite(com::REFIID riid, void** ppv) {
    if (!ppv) return com::E_POINTER;
    *ppv = nullptr;
    if (!browser_) return com::E_FAIL;
    return browser_->QueryInterface(riid, ppv);
}

}  // namespace navlet
