// Reading an Authenticode signature with OpenSSL: the signer's subject
// from the PKCS#7 SignedData, and the digest its SpcIndirectDataContent
// carries, compared with the digest of the file.
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "signature.h"

namespace {

template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
  void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)>
using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter<T, Free>>;

using Pkcs7Ptr = OpenSslPtr<PKCS7, PKCS7_free>;
using X509SigPtr = OpenSslPtr<X509_SIG, X509_SIG_free>;
using BioPtr = OpenSslPtr<BIO, BIO_free_all>;
using DigestContextPtr = OpenSslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using ObjectPtr = OpenSslPtr<ASN1_OBJECT, ASN1_OBJECT_free>;

// SPC_INDIRECT_DATA: the content type of an Authenticode signature.
constexpr char kSpcIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";

std::string signer_subject(PKCS7* p7) {
  STACK_OF(X509)* signers = PKCS7_get0_signers(p7, nullptr, 0);
  if (signers == nullptr) return std::string();
  std::string subject;
  if (sk_X509_num(signers) > 0) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    // RFC 2253 form, UTF-8 kept rather than escaped.
    unsigned long flags = XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB;
    if (bio && X509_NAME_print_ex(bio.get(), X509_get_subject_name(sk_X509_value(signers, 0)), 0,
                                  flags) >= 0) {
      char* text = nullptr;
      long length = BIO_get_mem_data(bio.get(), &text);
      if (length > 0) subject.assign(text, static_cast<size_t>(length));
    }
  }
  sk_X509_free(signers);
  return subject;
}

// SpcIndirectDataContent ::= SEQUENCE { data, messageDigest DigestInfo }:
// skip the first element, read the DigestInfo (X509_SIG in OpenSSL).
X509SigPtr signed_digest(PKCS7* p7) {
  PKCS7* inner = p7->d.sign != nullptr ? p7->d.sign->contents : nullptr;
  ObjectPtr spc(OBJ_txt2obj(kSpcIndirectDataOid, 1));
  if (inner == nullptr || !spc || OBJ_cmp(inner->type, spc.get()) != 0) return nullptr;
  ASN1_TYPE* other = inner->d.other;
  if (other == nullptr || other->type != V_ASN1_SEQUENCE) return nullptr;
  const unsigned char* at = other->value.sequence->data;
  long length = 0;
  int tag = 0, cls = 0;
  int flags = ASN1_get_object(&at, &length, &tag, &cls, other->value.sequence->length);
  if ((flags & 0x80) || flags == 0x21 || tag != V_ASN1_SEQUENCE) return nullptr;
  const unsigned char* end = at + length;
  flags = ASN1_get_object(&at, &length, &tag, &cls, end - at);
  if ((flags & 0x80) || flags == 0x21) return nullptr;
  at += length;
  return X509SigPtr(d2i_X509_SIG(nullptr, &at, end - at));
}

void check_digest(ByteSpan file, const CertificateTable& table, const X509_SIG* sig,
                  SignatureReport* report) {
  const X509_ALGOR* algorithm = nullptr;
  const ASN1_OCTET_STRING* digest = nullptr;
  X509_SIG_get0(sig, &algorithm, &digest);
  const ASN1_OBJECT* oid = nullptr;
  X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  const EVP_MD* md = EVP_get_digestbyobj(oid);
  if (md == nullptr) {
    report->problem = "the signature's digest algorithm is unknown to OpenSSL";
    return;
  }
  report->digest_algorithm = OBJ_nid2sn(EVP_MD_type(md));
  ByteRange ranges[3];
  authenticode_ranges(table, ranges);
  DigestContextPtr context(EVP_MD_CTX_new());
  unsigned char computed[EVP_MAX_MD_SIZE];
  unsigned int computed_length = 0;
  bool ok = context && EVP_DigestInit_ex(context.get(), md, nullptr) == 1;
  for (const ByteRange& r : ranges) {
    ok = ok && EVP_DigestUpdate(context.get(), file.data + r.offset, r.length) == 1;
  }
  ok = ok && EVP_DigestFinal_ex(context.get(), computed, &computed_length) == 1;
  if (!ok) {
    report->problem = "OpenSSL could not compute the digest";
    return;
  }
  report->digest_checked = true;
  report->digest_matches = static_cast<int>(computed_length) == ASN1_STRING_length(digest) &&
                           memcmp(computed, ASN1_STRING_get0_data(digest), computed_length) == 0;
}

}  // namespace

void read_pkcs7_signature(ByteSpan file, const CertificateTable& table, ByteSpan pkcs7,
                          SignatureReport* report) {
  const unsigned char* at = pkcs7.data;
  Pkcs7Ptr p7(d2i_PKCS7(nullptr, &at, static_cast<long>(pkcs7.size)));
  if (!p7 || !PKCS7_type_is_signed(p7.get())) {
    report->problem = "the certificate table's entry is not a PKCS#7 SignedData";
    return;
  }
  report->readable = true;
  report->signer = signer_subject(p7.get());
  X509SigPtr sig = signed_digest(p7.get());
  if (!sig) {
    report->problem = "the signature carries no Authenticode digest";
    return;
  }
  check_digest(file, table, sig.get(), report);
}
