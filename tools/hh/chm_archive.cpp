#include "chm_archive.h"

#include <chm_lib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <unordered_set>

#include "platform/text.h"

namespace hh {
namespace {

constexpr std::string_view kResetTable =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}
std::uint64_t Le64(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint64_t(Le32(b, at)) | std::uint64_t(Le32(b, at + 4)) << 32;
}

// The directory's variable-length integers: 7 bits a byte, most significant
// first, high bit set on every byte but the last.
bool ReadEncInt(std::span<const std::uint8_t> b, std::size_t& pos, std::size_t end, std::uint64_t& value) {
    value = 0;
    for (int i = 0; i < 10; ++i) {
        if (pos >= end) return false;
        std::uint8_t byte = b[pos++];
        if (value >> 57) return false;  // would overflow
        value = (value << 7) | (byte & 0x7f);
        if (!(byte & 0x80)) return true;
    }
    return false;
}

std::string ChunkWarning(std::size_t chunk, const std::string& what) {
    return "chunk " + std::to_string(chunk) + ": " + what;
}

}  // namespace

std::optional<ChmLayout> ParseFileHeader(std::span<const std::uint8_t> h, std::uint64_t fileSize,
                                         std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return std::nullopt;
    };
    if (h.size() < 0x58 || std::memcmp(h.data(), "ITSF", 4) != 0) return fail("not a compiled help file");
    std::uint32_t version = Le32(h, 4);
    if (version != 2 && version != 3) return fail("unknown container version");
    ChmLayout l;
    l.dirOffset = Le64(h, 0x48);
    l.dirLength = Le64(h, 0x50);
    if (version == 3) {
        if (h.size() < 0x60) return fail("file header cut short");
        l.contentOffset = Le64(h, 0x58);
    } else {
        l.contentOffset = l.dirOffset + l.dirLength;
    }
    if (l.dirOffset > fileSize || l.dirLength > fileSize - l.dirOffset || l.dirLength < 0x54)
        return fail("directory lies outside the file");
    if (l.contentOffset > fileSize) return fail("content lies outside the file");
    return l;
}

DirectoryListing ParseDirectory(std::span<const std::uint8_t> d, std::string* error) {
    DirectoryListing out;
    if (d.size() < 0x54 || std::memcmp(d.data(), "ITSP", 4) != 0) {
        if (error) *error = "directory header missing";
        return out;
    }
    std::uint32_t headerLength = Le32(d, 8);
    std::uint32_t chunkSize = Le32(d, 0x10);
    if (headerLength < 0x54 || headerLength > d.size() || chunkSize < 0x20 || chunkSize > (1u << 24)) {
        if (error) *error = "directory header damaged";
        return out;
    }
    std::size_t available = (d.size() - headerLength) / chunkSize;
    std::unordered_set<std::string> seen;
    for (std::size_t c = 0; c < available; ++c) {
        auto chunk = d.subspan(headerLength + c * chunkSize, chunkSize);
        if (std::memcmp(chunk.data(), "PMGL", 4) != 0) continue;  // index chunks and padding
        std::uint32_t freeSpace = Le32(chunk, 4);
        std::size_t end = chunkSize;
        if (freeSpace > chunkSize - 0x14) {
            out.warnings.push_back(ChunkWarning(c, "free-space length out of range"));
        } else {
            end = chunkSize - freeSpace;
        }
        std::size_t pos = 0x14;
        while (pos < end) {
            std::uint64_t nameLength = 0, section = 0, offset = 0, length = 0;
            if (!ReadEncInt(chunk, pos, end, nameLength) || nameLength == 0 || nameLength > end - pos) {
                // A zero length ends the entries of some writers' chunks early;
                // anything else is damage.
                if (nameLength != 0) out.warnings.push_back(ChunkWarning(c, "entry name runs past the chunk"));
                break;
            }
            std::string name(reinterpret_cast<const char*>(chunk.data() + pos), std::size_t(nameLength));
            pos += std::size_t(nameLength);
            if (!ReadEncInt(chunk, pos, end, section) || !ReadEncInt(chunk, pos, end, offset) ||
                !ReadEncInt(chunk, pos, end, length)) {
                out.warnings.push_back(ChunkWarning(c, "entry \"" + name + "\" cut short"));
                break;
            }
            if (seen.insert(name).second) out.entries.push_back({std::move(name), section, offset, length});
        }
    }
    return out;
}

bool IsContentFile(std::string_view name) {
    if (name.size() < 2 || name[0] != '/' || name.back() == '/') return false;
    return name[1] != '#' && name[1] != '$';
}

std::optional<std::string> SafeRelativePath(std::string_view name) {
    if (name.empty() || name[0] != '/') return std::nullopt;
    std::string rel(name.substr(1));
    if (rel.empty() || rel.find('\0') != std::string::npos) return std::nullopt;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    if (rel.back() == '/') rel.pop_back();
    if (rel.empty() || rel[0] == '/') return std::nullopt;
    std::size_t start = 0;
    while (start <= rel.size()) {
        std::size_t slash = rel.find('/', start);
        if (slash == std::string::npos) slash = rel.size();
        std::string_view part(rel.data() + start, slash - start);
        if (part.empty() || part == "." || part == "..") return std::nullopt;
        start = slash + 1;
    }
    return rel;
}

struct ChmArchive::Members {
    chmFile* file = nullptr;
    ChmLayout layout;
    DirectoryListing listing;
    std::uint64_t fileSize = 0;
    std::uint64_t compressedSectionLength = 0;  // 0: unknown (no compressed section)
};

ChmArchive::ChmArchive(std::unique_ptr<Members> m) : m_(std::move(m)) {}
ChmArchive::~ChmArchive() {
    if (m_ && m_->file) chm_close(m_->file);
}

std::unique_ptr<ChmArchive> ChmArchive::Open(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    in.seekg(0, std::ios::end);
    std::uint64_t size = std::uint64_t(in.tellg());
    in.seekg(0);
    std::vector<std::uint8_t> header(std::min<std::uint64_t>(size, 0x60));
    in.read(reinterpret_cast<char*>(header.data()), std::streamsize(header.size()));
    std::string why;
    auto layout = ParseFileHeader(header, size, &why);
    if (!layout) {
        if (error) *error = path + ": " + why;
        return nullptr;
    }
    std::vector<std::uint8_t> dir(std::size_t(layout->dirLength));
    in.seekg(std::streamoff(layout->dirOffset));
    in.read(reinterpret_cast<char*>(dir.data()), std::streamsize(dir.size()));
    if (!in) {
        if (error) *error = path + ": directory cannot be read";
        return nullptr;
    }
    auto m = std::make_unique<Members>();
    m->layout = *layout;
    m->fileSize = size;
    m->listing = ParseDirectory(dir, &why);
    if (m->listing.entries.empty()) {
        if (error) *error = path + ": " + (why.empty() ? std::string("empty directory") : why);
        return nullptr;
    }
    m->file = chm_open(path.c_str());
    if (!m->file) {
        if (error) *error = path + ": the container cannot be opened";
        return nullptr;
    }
    chm_set_param(m->file, CHM_PARAM_MAX_BLOCKS_CACHED, 64);
    std::unique_ptr<ChmArchive> archive(new ChmArchive(std::move(m)));
    if (const ChmEntry* reset = archive->Find(kResetTable); reset && reset->section == 0) {
        std::string table;
        if (archive->Read(*reset, &table, nullptr) && table.size() >= 0x18)
            archive->m_->compressedSectionLength =
                Le64({reinterpret_cast<const std::uint8_t*>(table.data()), table.size()}, 0x10);
    }
    return archive;
}

const DirectoryListing& ChmArchive::Listing() const { return m_->listing; }
std::uint64_t ChmArchive::FileSize() const { return m_->fileSize; }

bool ChmArchive::ReadTo(const ChmEntry& e, const std::function<bool(const char*, std::size_t)>& sink,
                        std::string* error) const {
    auto fail = [&](const std::string& why) {
        if (error) *error = e.name + ": " + why;
        return false;
    };
    std::uint64_t sectionLength = 0;
    if (e.section == 0) {
        sectionLength = m_->fileSize - m_->layout.contentOffset;
    } else if (e.section == 1) {
        sectionLength = m_->compressedSectionLength;
    } else {
        return fail("unknown section");
    }
    if (e.offset > sectionLength || e.length > sectionLength - e.offset) return fail("lies outside its section");
    chmUnitInfo ui{};
    ui.start = e.offset;
    ui.length = e.length;
    ui.space = int(e.section);
    std::strncpy(ui.path, e.name.c_str(), CHM_MAX_PATHLEN);
    std::vector<unsigned char> buffer(std::size_t(std::min<std::uint64_t>(e.length, 1u << 20)));
    std::uint64_t done = 0;
    while (done < e.length) {
        LONGINT64 want = LONGINT64(std::min<std::uint64_t>(e.length - done, buffer.size()));
        LONGINT64 got = chm_retrieve_object(m_->file, &ui, buffer.data(), done, want);
        if (got <= 0) return fail("cannot be read (damaged or cut short)");
        if (!sink(reinterpret_cast<const char*>(buffer.data()), std::size_t(got))) return fail("cannot be written");
        done += std::uint64_t(got);
    }
    return true;
}

bool ChmArchive::Read(const ChmEntry& e, std::string* out, std::string* error, std::uint64_t maxLength) const {
    out->clear();
    if (e.length > maxLength) {
        if (error) *error = e.name + ": too large";
        return false;
    }
    out->reserve(std::size_t(e.length));
    bool ok = ReadTo(e, [&](const char* p, std::size_t n) {
        out->append(p, n);
        return true;
    }, error);
    if (!ok) out->clear();
    return ok;
}

const ChmEntry* ChmArchive::Find(std::string_view name) const {
    for (const auto& e : m_->listing.entries)
        if (e.name == name) return &e;
    for (const auto& e : m_->listing.entries)
        if (platform::EqualsNoCaseAscii(e.name, name)) return &e;
    return nullptr;
}

std::string ChmArchive::DefaultTopic() const {
    const ChmEntry* system = Find("/#SYSTEM");
    std::string data;
    if (!system || !Read(*system, &data, nullptr)) return {};
    // A version word, then records of code, length and data; code 2 holds
    // the default topic.
    std::size_t pos = 4;
    while (pos + 4 <= data.size()) {
        auto b = reinterpret_cast<const std::uint8_t*>(data.data());
        unsigned code = b[pos] | b[pos + 1] << 8;
        std::size_t len = b[pos + 2] | b[pos + 3] << 8;
        pos += 4;
        if (len > data.size() - pos) break;
        if (code == 2) {
            std::string topic(data.data() + pos, len);
            topic = topic.substr(0, topic.find('\0'));
            if (topic.empty()) return {};
            return topic[0] == '/' ? topic : "/" + topic;
        }
        pos += len;
    }
    return {};
}

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd_, o.fd_);
        return *this;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

bool MakeFolders(const std::string& path) {
    std::string built;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        built = path.substr(0, slash);
        if (!built.empty() && ::mkdir(built.c_str(), 0755) != 0 && errno != EEXIST) return false;
        pos = slash + 1;
    }
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

enum class Placed { kOk, kRefused, kFailed };

// Opens (creating as needed) every folder of `folder` (a relative path, empty
// for `root` itself) below `root` without following links.
Placed OpenFolder(int root, const std::string& folder, Fd* out, std::string* why) {
    Fd dir(::dup(root));
    for (std::size_t start = 0; start < folder.size();) {
        std::size_t slash = folder.find('/', start);
        if (slash == std::string::npos) slash = folder.size();
        const std::string part = folder.substr(start, slash - start);
        start = slash + 1;
        if (::mkdirat(dir.get(), part.c_str(), 0755) != 0 && errno != EEXIST) {
            *why = std::strerror(errno);
            return Placed::kFailed;
        }
        Fd next(::openat(dir.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            *why = errno == ELOOP || errno == ENOTDIR ? "a link or file stands where a folder belongs"
                                                       : std::strerror(errno);
            return errno == ELOOP || errno == ENOTDIR ? Placed::kRefused : Placed::kFailed;
        }
        dir = std::move(next);
    }
    *out = std::move(dir);
    return Placed::kOk;
}

// Creates `leaf` in the open folder `dir` (never through a link) and writes it.
using Writer = std::function<bool(int fd, std::string* why)>;

Placed CreateFile(int dir, const std::string& leaf, const Writer& write, std::string* why) {
    Fd file(::openat(dir, leaf.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file.get() < 0) {
        *why = errno == ELOOP ? "a link stands in its place" : std::strerror(errno);
        return errno == ELOOP ? Placed::kRefused : Placed::kFailed;
    }
    if (!write(file.get(), why)) {
        ::unlinkat(dir, leaf.c_str(), 0);  // no half-written files
        return Placed::kFailed;
    }
    return Placed::kOk;
}

}  // namespace

bool Unpack(const ChmArchive& archive, const std::string& folder, UnpackResult* result, std::string* error,
            std::uint64_t totalLimit) {
    *result = {};
    if (folder.empty() || !MakeFolders(folder)) {
        if (error) *error = "cannot create folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    Fd root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.get() < 0) {
        if (error) *error = "cannot open folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    if (totalLimit == 0) totalLimit = std::max<std::uint64_t>(256ull << 20, archive.FileSize() * 200);
    // Reading in storage order keeps the decompressor's block cache warm.
    std::vector<const ChmEntry*> order;
    for (const auto& e : archive.Listing().entries)
        if (e.name.size() > 1 && e.name[0] == '/' && e.name[1] != '#' && e.name[1] != '$') order.push_back(&e);
    std::stable_sort(order.begin(), order.end(), [](const ChmEntry* a, const ChmEntry* b) {
        return a->section != b->section ? a->section < b->section : a->offset < b->offset;
    });
    std::uint64_t total = 0;
    std::string why;
    // Files come folder by folder: the last folder stays open for the next.
    std::string openFolder;
    Fd openFd(-1);
    for (const ChmEntry* e : order) {
        bool isFolder = e->name.back() == '/';
        auto rel = SafeRelativePath(e->name);
        if (!rel) {
            result->refused.push_back(e->name);
            continue;
        }
        if (!isFolder && e->length > totalLimit - std::min(total, totalLimit)) {
            result->failed.push_back(e->name + ": output limit reached");
            continue;
        }
        Writer write = [&](int fd, std::string* whyNot) {
            return archive.ReadTo(*e, [&](const char* p, std::size_t n) {
                while (n > 0) {
                    ssize_t w = ::write(fd, p, n);
                    if (w < 0) {
                        if (errno == EINTR) continue;
                        return false;
                    }
                    p += w;
                    n -= std::size_t(w);
                    total += std::uint64_t(w);
                }
                return true;
            }, whyNot);
        };
        const std::size_t slash = isFolder ? std::string::npos : rel->rfind('/');
        const std::string folder = isFolder ? *rel : slash == std::string::npos ? std::string() : rel->substr(0, slash);
        Placed placed = Placed::kOk;
        if (openFd.get() < 0 || folder != openFolder) {
            openFd = Fd(-1);
            placed = OpenFolder(root.get(), folder, &openFd, &why);
            openFolder = placed == Placed::kOk ? folder : std::string();
        }
        if (placed == Placed::kOk && !isFolder)
            placed = CreateFile(openFd.get(), slash == std::string::npos ? *rel : rel->substr(slash + 1), write, &why);
        switch (placed) {
        case Placed::kOk:
            if (!isFolder) ++result->written;
            break;
        case Placed::kRefused:
            result->refused.push_back(e->name + ": " + why);
            break;
        case Placed::kFailed:
            result->failed.push_back(why.starts_with(e->name) ? why : e->name + ": " + why);
            break;
        }
    }
    return true;
}

}  // namespace hh
