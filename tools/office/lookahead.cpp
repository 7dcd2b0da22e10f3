#include "lookahead.h"

#include <sys/stat.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/step_times.h"

namespace vmoffice::lookahead {
namespace {

// What makes a load ahead the one an Open asks for.
struct Key {
    std::string path;  // absolute
    off_t size = 0;
    long long mtimeSec = 0, mtimeNsec = 0;
    Kind kind = Kind::Text;
    bool readOnly = false;

    bool operator==(const Key&) const = default;
};

std::optional<Key> KeyOf(Kind kind, const std::string& path, bool readOnly) {
    std::error_code ec;
    Key k;
    k.path = std::filesystem::absolute(path, ec).lexically_normal().string();
    struct stat st {};
    if (ec || ::stat(k.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    k.size = st.st_size;
    k.mtimeSec = st.st_mtim.tv_sec;
    k.mtimeNsec = st.st_mtim.tv_nsec;
    k.kind = kind;
    k.readOnly = readOnly;
    return k;
}

struct Pending {
    Key key;
    std::shared_ptr<OfficeSession> session;
    std::thread loader;
    std::unique_ptr<OfficeDocument> doc;  // the loader's result, read after the join
};

std::mutex g_mutex;
// Never destroyed at exit: a loader still running then must not be joined
// or torn down from a static destructor (the office ends with us anyway).
std::unique_ptr<Pending>& g_pending = *new std::unique_ptr<Pending>;

// The closes under way; never destroyed at exit either.
std::mutex g_closingMutex;
std::vector<std::thread>& g_closing = *new std::vector<std::thread>;

std::unique_ptr<Pending> Detach() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return std::move(g_pending);
}

// Waits for the load and closes what it gave; a failed close is the office's
// trouble, which the next call into it meets.
void Close(std::unique_ptr<Pending> p) {
    if (!p) return;
    if (p->loader.joinable()) p->loader.join();
    if (p->doc) {
        OfficeLog("ahead closed " + p->key.path);
        p->doc.reset();
    }
}

}  // namespace

void Announce(std::shared_ptr<OfficeSession> session, Kind kind, const std::string& path, bool readOnly) {
    Close(Detach());
    std::optional<Key> key = KeyOf(kind, path, readOnly);
    if (!key || !session || session->Broken()) return;
    auto p = std::make_unique<Pending>();
    p->key = std::move(*key);
    p->session = std::move(session);
    OfficeLog("ahead loading " + p->key.path);
    p->loader = std::thread([p = p.get()] {
        try {
            p->doc = std::make_unique<OfficeDocument>(p->session, p->key.kind, p->key.path, p->key.readOnly);
        } catch (...) {
            // The Open that asks for this file loads it again and says why.
            return;
        }
        try {
            // What the converter reads first; kept by the document.
            p->doc->ReadPageSetup();
        } catch (...) {
            // Read again when asked for, and failing then with its text.
        }
    });
    std::lock_guard<std::mutex> lock(g_mutex);
    g_pending = std::move(p);
}

std::unique_ptr<OfficeDocument> Take(const std::shared_ptr<OfficeSession>& session, Kind kind,
                                     const std::string& path, bool readOnly) {
    std::unique_ptr<Pending> p = Detach();
    if (!p) return nullptr;
    // The office is busy with it anyway: whatever is asked for waits for it.
    p->loader.join();
    platform::MarkHop("office load ahead waited for");
    // The file as it is now: one changed since it was announced is loaded again.
    if (p->doc && p->session == session && !session->Broken() && KeyOf(kind, path, readOnly) == p->key) {
        OfficeLog("ahead adopted " + p->key.path);
        return std::move(p->doc);
    }
    Close(std::move(p));
    return nullptr;
}

void Drop() {
    Close(Detach());
    Settle();
}

void CloseInBackground(std::unique_ptr<OfficeDocument> doc) {
    if (!doc) return;
    std::lock_guard<std::mutex> lock(g_closingMutex);
    // The document's end closes it; its failures stay there.
    g_closing.emplace_back([doc = std::move(doc)]() mutable { doc.reset(); });
}

void Settle() {
    std::vector<std::thread> closing;
    {
        std::lock_guard<std::mutex> lock(g_closingMutex);
        closing.swap(g_closing);
    }
    for (std::thread& t : closing) t.join();
}

}  // namespace vmoffice::lookahead
