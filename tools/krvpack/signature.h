// What krvpack says about an Authenticode signature on a package or image:
// whether there is one, who signed it and, where the build has a PKCS#7
// reader that can do it, whether its digest matches the file.
#pragma once

#include <string>

#include "pe_image.h"

struct SignatureReport {
  SignatureState state = SignatureState::kNotPe;
  bool readable = false;          // the table holds a PKCS#7 SignedData we could read
  std::string signer;             // the signer certificate's subject, UTF-8
  std::string digest_algorithm;   // as the signature names it, e.g. "SHA256"
  bool digest_checked = false;    // this build computed the file's digest
  bool digest_matches = false;
  std::string problem;            // why the signature could not be read
};

SignatureReport inspect_signature(ByteSpan file);

// The platform's PKCS#7 reading (OpenSSL natively, crypt32 on Windows):
// fills readable, signer, digest_* or problem.
void read_pkcs7_signature(ByteSpan file, const CertificateTable& table, ByteSpan pkcs7,
                          SignatureReport* report);

// What krvpack verify says about a signature: one line ("signed by ...;
// its SHA256 digest matches the file", "not signed" for a program or image,
// nothing for a package file). A fault when the digest does not match (the
// file was changed after signing); a warning when the security directory
// names a table that is not at the file's end (the image runs, but no
// signer can sign it cleanly).
struct SignatureSummary {
  std::string line;
  bool fault = false;
  bool warning = false;
};
SignatureSummary summarize_signature(const SignatureReport& report);
