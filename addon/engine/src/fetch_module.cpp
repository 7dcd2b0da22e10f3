// libvm_fetch.so: http: and https: transfers through libcurl, opened by the
// engine the first time a document or one of its resources is on the web.
#include <curl/curl.h>

#include <mutex>

#include "optional_modules.h"
#include "resources.h"

namespace {

struct Sink {
    std::string* body;
    std::size_t max;
    bool truncated = false;
};

size_t WriteBody(char* p, size_t size, size_t n, void* user) {
    auto* s = static_cast<Sink*>(user);
    std::size_t len = size * n;
    if (s->body->size() + len > s->max) {
        s->body->append(p, s->max - s->body->size());
        s->truncated = true;
        return 0;  // stops the transfer
    }
    s->body->append(p, len);
    return len;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t VmModuleAbiVersion() {
    return htmlengine::kModuleAbiVersion;
}

extern "C" __attribute__((visibility("default"))) void VmFetchHttp(const char* url, const char* userAgent,
                                                                   long timeoutMs, std::size_t maxBytes,
                                                                   htmlengine::FetchResult* out) {
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    htmlengine::FetchResult& r = *out;
    r = {};
    r.finalUrl = url;
    CURL* curl = curl_easy_init();
    if (!curl) {
        r.error = "no transfer handle";
        return;
    }
    Sink sink{&r.body, maxBytes};
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs < 1 ? 1L : timeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    char* ct = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &ct);
    if (ct) r.contentType = ct;
    char* eff = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &eff);
    if (eff) r.finalUrl = eff;
    r.status = static_cast<int>(status);
    r.truncated = sink.truncated;
    if (rc == CURLE_OPERATION_TIMEDOUT) {
        r.timedOut = true;
        r.error = "time-out";
        // What arrived before the time-out is shown.
        r.ok = status > 0 && status < 400;
    } else if (rc == CURLE_WRITE_ERROR && sink.truncated) {
        r.ok = status < 400;
    } else if (rc != CURLE_OK) {
        r.error = curl_easy_strerror(rc);
    } else if (status >= 400) {
        r.error = "HTTP status " + std::to_string(status);
    } else {
        r.ok = true;
    }
    curl_easy_cleanup(curl);
}
