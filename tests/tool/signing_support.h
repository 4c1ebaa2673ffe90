// A throwaway code-signing certificate made by openssl at test time, and
// osslsigncode to sign and verify with it.
#pragma once

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

struct TestSigner {
  fs::path certificate, key;
};

constexpr char kTestSignerName[] = "Korvinda Test Publisher";

// A self-signed certificate and key in `dir`; false with the tool's output.
bool make_test_signer(const fs::path& dir, TestSigner* signer, std::string* log);

// osslsigncode sign -in in -out out (SHA-256).
bool sign_with_osslsigncode(const TestSigner& signer, const fs::path& in, const fs::path& out,
                            std::string* log);

// osslsigncode verify, trusting the throwaway certificate.
bool osslsigncode_verifies(const TestSigner& signer, const fs::path& file, std::string* log);

// The shell command that signs {image} into {signed}, for --sign-command.
std::string osslsigncode_sign_command(const TestSigner& signer);
