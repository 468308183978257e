#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <fstream>
#include <sstream>
#include <string>

#include "net/session.h"
#include "support/session_seams.h"

void set_test_session_timeouts(int resolve_ms, int connect_ms, int send_ms, int receive_ms) {
    if (HttpSession s = http_session.load()) WinHttpSetTimeouts(s, resolve_ms, connect_ms, send_ms, receive_ms);
}

namespace {

// The certificate of a PEM file, as the stores keep it.
PCCERT_CONTEXT certificate_of(const std::filesystem::path& pem) {
    std::ifstream in(pem, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string base64 = text.str();
    DWORD size = 0;
    if (base64.empty() || !CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()),
                                                CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return nullptr;
    std::string der(size, '\0');
    if (!CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64HEADER,
                              reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
        return nullptr;
    return CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size);
}

// The current user's own roots, in the registry: under Wine, a removal
// through the system's collection of roots leaves the registry untouched.
HCERTSTORE open_user_roots() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
}

}  // namespace

TestAuthority::TestAuthority(const std::filesystem::path& pem) : pem_(pem) {
    PCCERT_CONTEXT cert = certificate_of(pem);
    HCERTSTORE roots = open_user_roots();
    if (cert && roots)
        trusted_ = CertAddCertificateContextToStore(roots, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (roots) CertCloseStore(roots, 0);
    if (cert) CertFreeCertificateContext(cert);
}

TestAuthority::~TestAuthority() {
    if (!trusted_) return;
    PCCERT_CONTEXT cert = certificate_of(pem_);
    HCERTSTORE roots = open_user_roots();
    if (cert && roots) {
        // Deleting frees the found context.
        if (PCCERT_CONTEXT found = CertFindCertificateInStore(roots, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert,
                                                              nullptr))
            CertDeleteCertificateFromStore(found);
    }
    if (roots) CertCloseStore(roots, 0);
    if (cert) CertFreeCertificateContext(cert);
}
