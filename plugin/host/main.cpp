// navlet-host: the native-messaging host of the browser extension. The
// browser starts it for each press of the button (or use of the menu entry)
// and sends {"url": ADDRESS}; the host creates the button object through the
// component runtime, gives it a site whose browser shows that address, runs
// its command (which starts the converter and waits for it in the wait
// window) and answers with the outcome:
//
//   {"outcome": "converted" | "failed" | "aborted" | "notStarted" | "error" | "refused",
//    "url": ..., "result": converter's result code, "hresult": "0x........", "message": ...}
//
// Requests on one connection are served one after another; presses at the
// same time come on connections (and host processes) of their own.
#include "host_site.h"
#include "native_messaging.h"
#include "platform/msgbox.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

using namespace navlet;

std::string Hex(com::HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

std::string Answer(const std::string& outcome, const std::string& url, const std::string& extra) {
    std::string json = "{\"outcome\":" + platform::JsonQuote(outcome);
    if (!url.empty()) json += ",\"url\":" + platform::JsonQuote(url);
    return json + extra + "}";
}

std::string Refused(const std::string& why) {
    return Answer("refused", "", ",\"message\":" + platform::JsonQuote(why));
}

// Runs the button's command for one address.
std::string Convert(const std::string& url) {
    com::ComPtr<com::IOleCommandTarget> target;
    com::HRESULT hr = com::CoCreateInstance(CLSID_Navlet, nullptr, com::CLSCTX_INPROC_SERVER, com::IID_IOleCommandTarget,
                                            reinterpret_cast<void**>(target.ReleaseAndGetAddressOf()));
    if (com::FAILED(hr))
        return Answer("error", url,
                      ",\"hresult\":\"" + Hex(hr) +
                          "\",\"message\":\"The button's component is not registered (run regsvr on libnavlet.so).\"");
    com::ComPtr<com::IObjectWithSite> withSite;
    hr = target.As(&withSite);
    if (com::FAILED(hr)) return Answer("error", url, ",\"hresult\":\"" + Hex(hr) + "\"");
    auto site = com::ComPtr<CSite>::Attach(CSite::CreateOwned(url));
    hr = withSite->SetSite(static_cast<com::IServiceProvider*>(site.Get()));
    if (com::FAILED(hr)) return Answer("error", url, ",\"hresult\":\"" + Hex(hr) + "\"");

    com::OLECMD command;
    target->QueryStatus(nullptr, 1, &command, nullptr);
    com::VARIANT outcome;
    hr = target->Exec(nullptr, 0, 0, nullptr, &outcome);
    withSite->SetSite(nullptr);

    if (com::FAILED(hr)) {
        const char* message = hr == com::SELFREG_E_CLASS ? "The converter is not set up. Reinstall the application."
                              : hr == com::E_INVALIDARG  ? "The address is too long to be converted."
                                                         : "The page's address is not available.";
        return Answer("error", url, ",\"hresult\":\"" + Hex(hr) + "\",\"message\":" + platform::JsonQuote(message));
    }
    if (outcome.vt == com::VT_I4)
        return Answer(outcome.lVal == 0 ? "converted" : "failed", url, ",\"result\":" + std::to_string(outcome.lVal));
    if (outcome.vt == com::VT_ERROR && outcome.scode == com::E_ABORT) return Answer("aborted", url, "");
    return Answer("notStarted", url, ",\"hresult\":\"" + Hex(outcome.vt == com::VT_ERROR ? outcome.scode : com::E_FAIL) +
                                         "\",\"message\":\"The converter could not be started.\"");
}

}  // namespace

int main() {
    // A browser that goes away closes our output; that must end us quietly.
    signal(SIGPIPE, SIG_IGN);
    com::CoInitialize();
    int status = 0;
    for (;;) {
        std::string body, url, why, answer;
        ReadResult r = ReadMessage(STDIN_FILENO, &body);
        if (r == ReadResult::End) break;
        if (r == ReadResult::TooLarge)
            answer = Refused("the request is too large");
        else if (!ParseRequest(body, &url, &why))
            answer = Refused(why);
        else
            answer = Convert(url);
        if (!WriteMessage(STDOUT_FILENO, answer)) {
            status = 1;
            break;
        }
    }
    com::CoUninitialize();
    return status;
}
