#include "resources.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "htmlengine/url.h"
#include "optional_modules.h"

namespace htmlengine {
namespace {

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
    : deadline_(deadline), userAgent_(std::move(userAgent)), maxBytes_(maxBytes) {}

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
    std::string why;
    FetchHttpFn* fetch = FetchModule(&why);
    if (!fetch) {
        FetchResult r;
        r.finalUrl = url;
        r.error = "web addresses cannot be loaded: " + why;
        return r;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    FetchResult r;
    fetch(url.c_str(), userAgent_.c_str(), static_cast<long>(std::max<long long>(1, left)), maxBytes_, &r);
    if (r.timedOut) anyTimedOut_ = true;
    return r;
}

}  // namespace htmlengine
