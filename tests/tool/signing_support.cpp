#include "signing_support.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command with its output in *log; true on exit status 0.
bool run(const std::string& command, std::string* log) {
  fs::path output = fs::temp_directory_path() / ("krv-sign-" + std::to_string(rand()) + ".log");
  int status = std::system((command + " >" + quoted(output.string()) + " 2>&1").c_str());
  std::ifstream in(output);
  std::ostringstream text;
  text << in.rdbuf();
  *log = command + "\n" + text.str();
  fs::remove(output);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool make_test_signer(const fs::path& dir, TestSigner* signer, std::string* log) {
  signer->certificate = dir / "signer-cert.pem";
  signer->key = dir / "signer-key.pem";
  return run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout " +
                 quoted(signer->key.string()) + " -out " + quoted(signer->certificate.string()) +
                 " -subj " + quoted(std::string("/CN=") + kTestSignerName + "/O=Korvinda Tests") +
                 " -addext extendedKeyUsage=codeSigning",
             log);
}

std::string osslsigncode_sign_command(const TestSigner& signer) {
  return "osslsigncode sign -h sha256 -certs " + quoted(signer.certificate.string()) + " -key " +
         quoted(signer.key.string()) + " -n 'Korvinda update' -in {image} -out {signed}";
}

bool sign_with_osslsigncode(const TestSigner& signer, const fs::path& in, const fs::path& out,
                            std::string* log) {
  std::string command = osslsigncode_sign_command(signer);
  command.replace(command.find("{image}"), 7, quoted(in.string()));
  command.replace(command.find("{signed}"), 8, quoted(out.string()));
  return run(command, log);
}

bool osslsigncode_verifies(const TestSigner& signer, const fs::path& file, std::string* log) {
  return run("osslsigncode verify -CAfile " + quoted(signer.certificate.string()) + " -in " +
                 quoted(file.string()),
             log);
}
