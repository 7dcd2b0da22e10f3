// The keys of the standard security handler (RC4, revisions 2 and 3). They
// are derived by qpdf inside the module libvm_protect.so, opened when the
// first protected document is written: documents without protection never
// map qpdf and the libraries it needs.
#pragma once

#include <cstdint>
#include <string>

namespace pdfcore {

struct ProtectionKeys {
    std::string o, u;  // the /O and /U entries
    std::string key;   // the file's encryption key
};

// Passwords are UTF-8 (the handler sees their PDFDocEncoding bytes). Throws
// std::runtime_error when the module cannot be used.
ProtectionKeys ComputeProtectionKeys(const std::string& userUtf8, const std::string& ownerUtf8, int v, int r,
                                     int keyBytes, int p, const std::string& id1);

// The RC4 key of one object (generation 0).
std::string ObjectKey(const std::string& fileKey, int objectNumber, int v, int r);

// What both sides of the module agree on.
constexpr std::uint32_t kProtectModuleAbi = 1;
extern "C" {
using ProtectKeysFn = void(const std::string& userUtf8, const std::string& ownerUtf8, int v, int r, int keyBytes,
                           int p, const std::string& id1, ProtectionKeys* out);
using ObjectKeyFn = void(const std::string& fileKey, int objectNumber, int v, int r, std::string* out);
}

}  // namespace pdfcore
