// Reading compiled help files (ITSF containers): the full directory listing,
// taken from every listing chunk of the directory rather than from the
// library's own enumeration, and safe unpacking of the listed files into a
// folder.
//
// The directory parser reads outside input: every count, offset and length is
// checked against the bytes it came from; damage becomes a warning and the
// chunk is skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hh {

// One directory entry. `name` is the raw name as stored (UTF-8, "/" first for
// the content files).
struct ChmEntry {
    std::string name;
    std::uint64_t section = 0;  // 0 uncompressed, 1 compressed
    std::uint64_t offset = 0;   // inside the section
    std::uint64_t length = 0;
};

// Layout facts of the container, read from its two headers.
struct ChmLayout {
    std::uint64_t dirOffset = 0;      // where the directory header starts
    std::uint64_t dirLength = 0;      // directory header plus chunks
    std::uint64_t contentOffset = 0;  // start of section 0
    std::uint32_t chunkSize = 0;
    std::uint32_t dirHeaderLength = 0;
    std::uint32_t chunkCount = 0;
};

struct DirectoryListing {
    std::vector<ChmEntry> entries;    // in chunk order, duplicates dropped
    std::vector<std::string> warnings;  // "chunk N: ..." for damaged chunks
};

// Reads the file header; nullopt with `error` set when the bytes are not a
// usable container header. `fileSize` bounds the offsets.
std::optional<ChmLayout> ParseFileHeader(std::span<const std::uint8_t> header, std::uint64_t fileSize,
                                         std::string* error);

// Parses the directory (its header followed by the chunks, as stored at
// dirOffset). Every listing chunk is walked in storage order, whatever the
// header says about the first listing chunk or the chunks' links; index
// chunks are passed over.
DirectoryListing ParseDirectory(std::span<const std::uint8_t> directory, std::string* error);

// A content file is a name that starts with "/" and is neither a folder
// (trailing "/") nor one of the container's own files ("/#...", "/$...").
bool IsContentFile(std::string_view name);

// The path below the target folder for a stored name, or nullopt when the
// name could leave the folder: empty parts after the leading "/", ".", "..",
// an absolute remainder, a NUL or a backslash-separated climb ("\" counts as
// a separator, as it does on the platform the files come from).
std::optional<std::string> SafeRelativePath(std::string_view name);

// An opened compiled help file. Not copyable; closes the file when destroyed.
class ChmArchive {
public:
    static std::unique_ptr<ChmArchive> Open(const std::string& path, std::string* error);
    ~ChmArchive();
    ChmArchive(const ChmArchive&) = delete;
    ChmArchive& operator=(const ChmArchive&) = delete;

    const DirectoryListing& Listing() const;
    std::uint64_t FileSize() const;
    // Reads an object piece by piece (up to 1 MiB a call of `sink`); false
    // (with `error`) when it cannot be read in full, claims more bytes than
    // its section holds, or `sink` returns false.
    bool ReadTo(const ChmEntry& entry, const std::function<bool(const char*, std::size_t)>& sink,
                std::string* error) const;
    // Reads a whole object of at most `maxLength` bytes into `out`.
    bool Read(const ChmEntry& entry, std::string* out, std::string* error,
              std::uint64_t maxLength = std::uint64_t(64) << 20) const;
    // Finds a listed entry by name: exact first, then ignoring ASCII case.
    const ChmEntry* Find(std::string_view name) const;
    // The default topic recorded by the compiler (with its leading "/"), or
    // empty when the file names none.
    std::string DefaultTopic() const;

private:
    struct Members;
    explicit ChmArchive(std::unique_ptr<Members> m);
    std::unique_ptr<Members> m_;
};

struct UnpackResult {
    std::size_t written = 0;          // files written
    std::vector<std::string> refused; // names refused as unsafe
    std::vector<std::string> failed;  // names that could not be read or written
};

// Writes every content file below `folder` (created when missing). Names
// outside the folder are refused, and no symbolic link below the folder is
// followed, so a hostile file cannot write elsewhere. `totalLimit` caps the
// bytes written in all (0: the default cap, 256 MiB or 200 times the
// container's size, whichever is larger). Returns false with `error` when the
// folder cannot be made or opened; per-file problems are listed in `result`.
bool Unpack(const ChmArchive& archive, const std::string& folder, UnpackResult* result, std::string* error,
            std::uint64_t totalLimit = 0);

}  // namespace hh
