// libvm_protect.so: the standard security handler's key derivation, by qpdf.
#include <qpdf/QPDF.hh>
#include <qpdf/QUtil.hh>

#include "pdfcore/protection.h"

#define VM_EXPORT extern "C" __attribute__((visibility("default")))

VM_EXPORT std::uint32_t VmModuleAbiVersion() { return pdfcore::kProtectModuleAbi; }

VM_EXPORT void VmProtectKeys(const std::string& userUtf8, const std::string& ownerUtf8, int v, int r, int keyBytes,
                             int p, const std::string& id1, pdfcore::ProtectionKeys* out) {
    // Passwords of the RC4 handlers are PDFDocEncoding bytes.
    std::string user, owner;
    QUtil::utf8_to_pdf_doc(userUtf8, user, '?');
    QUtil::utf8_to_pdf_doc(ownerUtf8, owner, '?');
    QPDF::compute_encryption_O_U(user.c_str(), owner.c_str(), v, r, keyBytes, p, true, id1, out->o, out->u);
    out->key = QPDF::compute_encryption_key(
        user, QPDF::EncryptionData(v, r, keyBytes, p, out->o, out->u, "", "", "", id1, true));
}

VM_EXPORT void VmObjectKey(const std::string& fileKey, int objectNumber, int v, int r, std::string* out) {
    *out = QPDF::compute_data_key(fileKey, objectNumber, 0, false, v, r);
}
