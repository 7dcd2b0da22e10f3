// Fetching documents, style sheets and pictures: local files and file:
// addresses, http: and https: through the fetch module (libcurl, opened on
// first use), data: addresses, and the parts of a loaded web archive. Every
// fetch is bounded by the load's deadline.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "htmlengine/mht.h"

namespace htmlengine {

struct FetchResult {
    bool ok = false;
    int status = 0;           // HTTP status, 200 for files, 0 when nothing answered
    std::string body;
    std::string contentType;  // as the server or the archive said, may be empty
    std::string finalUrl;     // after redirects
    bool timedOut = false;
    bool truncated = false;   // cut at the size limit
    std::string error;        // why it failed
};

class ResourceFetcher {
public:
    using Clock = std::chrono::steady_clock;
    ResourceFetcher(Clock::time_point deadline, std::string userAgent, std::size_t maxBytes);
    ~ResourceFetcher();

    FetchResult Fetch(const std::string& url);

    // Parts of an unpacked archive answer before anything else.
    void SetArchive(std::shared_ptr<const MhtArchive> archive) { archive_ = std::move(archive); }
    bool DeadlinePassed() const { return Clock::now() >= deadline_; }
    bool AnyTimedOut() const { return anyTimedOut_; }

private:
    FetchResult FetchHttp(const std::string& url);
    Clock::time_point deadline_;
    std::string userAgent_;
    std::size_t maxBytes_;
    std::shared_ptr<const MhtArchive> archive_;
    bool anyTimedOut_ = false;
};

}  // namespace htmlengine
