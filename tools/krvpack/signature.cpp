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

namespace {

std::string digest_text(const SignatureReport& report) {
  if (report.digest_checked) return "; its " + report.digest_algorithm + " digest matches the file";
  return report.problem.empty() ? "; its digest is not checked by this build"
                                : "; its digest is not checked: " + report.problem;
}

}  // namespace

SignatureSummary summarize_signature(const SignatureReport& report) {
  SignatureSummary summary;
  switch (report.state) {
    case SignatureState::kNotPe:
      return summary;
    case SignatureState::kUnsigned:
      summary.line = "not signed";
      return summary;
    case SignatureState::kMisplaced:
      summary.line = "its security directory names a certificate table that is not at the "
                     "file's end, so it cannot be signed cleanly (build it again from the program)";
      summary.warning = true;
      return summary;
    case SignatureState::kSigned:
      break;
  }
  if (!report.readable) {
    summary.line = "signed, but " + report.problem;
    return summary;
  }
  summary.line = "signed by " + (report.signer.empty() ? std::string("an unnamed signer") : report.signer);
  if (report.digest_checked && !report.digest_matches) {
    summary.line += "; the signature's " + report.digest_algorithm +
                    " digest does not match the file: it was changed after signing";
    summary.fault = true;
    return summary;
  }
  summary.line += digest_text(report) + " (the certificate chain is not checked)";
  return summary;
}
