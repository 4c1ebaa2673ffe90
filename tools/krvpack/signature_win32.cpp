// Reading an Authenticode signature with crypt32 in krvpack.exe: the
// signer's subject. The digest is not compared here (the native build
// does it with OpenSSL; on Windows, signtool verify checks the whole
// signature).
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "signature.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::string utf8_of(const std::wstring& wide) {
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &out[0], length, nullptr, nullptr);
  out.resize(static_cast<size_t>(length - 1));
  return out;
}

std::string subject_of(PCCERT_CONTEXT certificate) {
  DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  DWORD length = CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, 0, &type, nullptr, 0);
  if (length <= 1) return std::string();
  std::wstring name(length, L'\0');
  CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, 0, &type, &name[0], length);
  name.resize(length - 1);
  return utf8_of(name);
}

// The certificate that matches the first signer's issuer and serial.
std::string first_signer(HCRYPTMSG message, HCERTSTORE store) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size)) return "";
  std::string info(size, '\0');
  if (!CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, &info[0], &size)) return "";
  PCCERT_CONTEXT certificate =
      CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_CERT,
                                 reinterpret_cast<const CERT_INFO*>(info.data()), nullptr);
  if (certificate == nullptr) return "";
  std::string subject = subject_of(certificate);
  CertFreeCertificateContext(certificate);
  return subject;
}

}  // namespace

void read_pkcs7_signature(ByteSpan, const CertificateTable&, ByteSpan pkcs7,
                          SignatureReport* report) {
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(pkcs7.size), const_cast<BYTE*>(pkcs7.data)};
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store,
                        &message, nullptr)) {
    report->problem = "the certificate table's entry is not a PKCS#7 SignedData";
    return;
  }
  report->readable = true;
  report->signer = first_signer(message, store);
  CryptMsgClose(message);
  CertCloseStore(store, 0);
}
