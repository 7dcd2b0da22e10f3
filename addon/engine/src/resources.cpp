#include "resources.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "htmlengine/url.h"

namespace htmlengine {
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

FetchResult FetchData(const std::string& url) {
    FetchResult r;
    auto comma = url.find(',');
    if (comma == std::string::npos) {
        r.error = "malformed data address";
        return r;
    }
    std::string meta = url.substr(5, comma - 5);
    std::string payload = url.substr(comma + 1);
    bool base64 = meta.size() >= 7 && meta.compare(meta.size() - 7, 7, ";base64") == 0;
    if (base64) meta.resize(meta.size() - 7);
    auto decoded = PercentDecode(payload, payload.size() + 1);
    r.body = decoded ? *decoded : payload;
    if (base64) r.body = DecodeBase64(r.body);
    r.contentType = meta.empty() ? "text/plain" : meta;
    r.ok = true;
    r.status = 200;
    r.finalUrl = url;
    return r;
}

}  // namespace

ResourceFetcher::ResourceFetcher(Clock::time_point deadline, std::string userAgent, std::size_t maxBytes)
    : deadline_(deadline), userAgent_(std::move(userAgent)), maxBytes_(maxBytes) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

ResourceFetcher::~ResourceFetcher() = default;

FetchResult ResourceFetcher::Fetch(const std::string& url) {
    if (archive_) {
        if (const MimePart* p = archive_->Find(url)) {
            FetchResult r;
            r.ok = true, r.status = 200, r.body = p->body, r.finalUrl = url;
            r.contentType = p->contentType + (p->charset.empty() ? "" : "; charset=" + p->charset);
            return r;
        }
    }
    std::string scheme = SchemeOf(url);
    if (scheme == "data") return FetchData(url);
    if (scheme == "about") {
        FetchResult r;
        r.ok = true, r.status = 200, r.finalUrl = url, r.contentType = "text/html";
        return r;
    }
    if (scheme == "file" || scheme.empty()) {
        FetchResult r;
        r.finalUrl = url;
        auto path = scheme.empty() ? std::optional<std::string>(url) : FilePathFromUrl(url);
        struct stat st {};
        if (!path || ::stat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            r.error = "file not found";
            r.status = 2;
            return r;
        }
        std::ifstream in(*path, std::ios::binary);
        if (!in) {
            r.error = "file cannot be read";
            r.status = 5;
            return r;
        }
        std::size_t want = std::min<std::size_t>(static_cast<std::size_t>(st.st_size), maxBytes_);
        r.body.resize(want);
        in.read(r.body.data(), static_cast<std::streamsize>(want));
        r.body.resize(static_cast<std::size_t>(in.gcount()));
        r.truncated = static_cast<std::size_t>(st.st_size) > maxBytes_;
        r.ok = true;
        r.status = 200;
        return r;
    }
    if (scheme == "http" || scheme == "https") {
        // Local files are read whatever the time; the network only until the deadline.
        if (DeadlinePassed()) {
            FetchResult r;
            r.finalUrl = url;
            r.timedOut = anyTimedOut_ = true;
            r.error = "time-out";
            return r;
        }
        return FetchHttp(url);
    }
    FetchResult r;
    r.error = "unsupported scheme";
    r.finalUrl = url;
    return r;
}

FetchResult ResourceFetcher::FetchHttp(const std::string& url) {
    FetchResult r;
    r.finalUrl = url;
    CURL* curl = curl_easy_init();
    if (!curl) {
        r.error = "no transfer handle";
        return r;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    Sink sink{&r.body, maxBytes_};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent_.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<long long>(1, left)));
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
        r.timedOut = anyTimedOut_ = true;
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
    return r;
}

}  // namespace htmlengine
