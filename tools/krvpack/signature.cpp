// The portable half of signature inspection: finding the table and its
// first PKCS#7 entry; the platform file reads the entry.
#include "signature.h"

SignatureReport inspect_signature(ByteSpan file) {
  SignatureReport report;
  CertificateTable table;
  report.state = find_certificate_table(file, &table);
  if (report.state != SignatureState::kSigned) return report;
  ByteSpan pkcs7;
  if (!first_pkcs7_certificate(file, table, &pkcs7)) {
    report.problem = "the certificate table does not begin with a PKCS#7 signature";
    return report;
  }
  read_pkcs7_signature(file, table, pkcs7, &report);
  return report;
}

bool signature_summary(const SignatureReport& report, std::string* line) {
  line->clear();
  if (report.state == SignatureState::kMisplaced) {
    *line = "its security directory names a certificate table that is not at the file's end";
    return false;
  }
  if (report.state != SignatureState::kSigned) return true;
  if (!report.readable) {
    *line = "signed, but " + report.problem;
    return true;
  }
  *line = "signed by " + (report.signer.empty() ? std::string("an unnamed signer") : report.signer);
  if (report.digest_checked && !report.digest_matches) {
    *line += "; the signature's " + report.digest_algorithm +
             " digest does not match the file: it was changed after signing";
    return false;
  }
  if (report.digest_checked) {
    *line += "; its " + report.digest_algorithm + " digest matches the file";
  } else {
    *line += report.problem.empty() ? "; its digest is not checked by this build"
                                    : "; its digest is not checked: " + report.problem;
  }
  *line += " (the certificate chain is not checked)";
  return true;
}
