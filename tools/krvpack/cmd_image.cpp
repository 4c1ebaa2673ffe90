// krvpack image: the updater program, the package and the trailer, with an
// optional signing command run on the finished image before it is renamed
// into place.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "console.h"
#include "inspect.h"
#include "output_file.h"
#include "package_writer.h"
#include "pe_image.h"
#include "platform.h"
#include "program_check.h"
#include "tree.h"

namespace fs = std::filesystem;

namespace {

constexpr char kImagePlaceholder[] = "{image}";
constexpr char kSignedPlaceholder[] = "{signed}";

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(fs::u8path(a), fs::u8path(b), ec);
}

bool check_image_package(const std::string& package, std::string* error) {
  InputPackage opened;
  PackageReport report;
  std::vector<std::string> warnings;
  bool ok = open_input(package, &opened, error) && describe_package(opened, &report, error) &&
            verify_package(opened, report, error, &warnings);
  if (ok && opened.is_image) {
    *error = "it is already a self-contained image; give the package file";
    ok = false;
  }
  close_input(&opened);
  if (!ok) *error = package + ": " + *error;
  for (const std::string& w : warnings) printf_err("krvpack: warning: %s: %s\n", package.c_str(), w.c_str());
  return ok;
}

// The program as the image carries it: a signature of its own is taken
// off (it could not be valid in the image, and a signer would refuse the
// image), exactly as the updater's MAKEEXE does.
std::vector<uint8_t> program_part(const std::vector<uint8_t>& program, const std::string& name) {
  ProgramCopy plan = plan_program_copy(ByteSpan{program.data(), program.size()});
  std::vector<uint8_t> part(program.begin(), program.begin() + plan.length);
  finish_program_copy(plan, part.data());
  if (plan.strip_signature) {
    printf_out("krvpack: %s is signed; the image carries it without its signature (%zu bytes)\n",
           name.c_str(), part.size());
  }
  CertificateTable table;
  if (find_certificate_table(ByteSpan{program.data(), program.size()}, &table) ==
      SignatureState::kMisplaced) {
    printf_err("krvpack: warning: \"%s\" names a certificate table that is not at its end; "
                    "it is copied unchanged and the image may not sign cleanly\n", name.c_str());
  }
  return part;
}

void replace_all(std::string* text, const std::string& what, const std::string& with) {
  for (size_t at = text->find(what); at != std::string::npos; at = text->find(what, at + with.size())) {
    text->replace(at, what.size(), with);
  }
}

// The image must still be found by the updater's reader, at the same
// offset, once the command has done its work.
bool check_signed_image(const std::string& path, uint32_t package_offset, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!read_whole_file(fs::u8path(path), &bytes, error)) return false;
  ByteSpan file{bytes.data(), bytes.size()};
  uint32_t found = 0;
  if (!locate_package(file, true, &found) || found != package_offset) {
    *error = "after the sign command the updater no longer finds its package in the image";
    return false;
  }
  CertificateTable table;
  if (find_certificate_table(file, &table) != SignatureState::kSigned) {
    printf_err("krvpack: warning: the sign command left the image unsigned\n");
  }
  return true;
}

bool run_sign_command(const std::string& command_template, const std::string& image,
                      uint32_t package_offset, std::string* error) {
  std::string command = command_template;
  std::string signed_copy = image + ".signed";
  bool writes_copy = command.find(kSignedPlaceholder) != std::string::npos;
  if (command.find(kImagePlaceholder) == std::string::npos && !writes_copy) {
    command += " " + shell_quoted(image);
  }
  replace_all(&command, kImagePlaceholder, shell_quoted(image));
  replace_all(&command, kSignedPlaceholder, shell_quoted(signed_copy));
  std::string why;
  int status = run_shell_command(command, &why);
  bool ok = status == 0;
  if (!ok) {
    *error = "the sign command failed (" + (status < 0 ? why : "exit status " + std::to_string(status)) +
             "); no image was written";
  }
  if (ok && writes_copy && !replace_file(signed_copy, image, &why)) {
    *error = "the sign command wrote no signed image at {signed}: " + why;
    ok = false;
  }
  if (writes_copy) remove_file(signed_copy);
  return ok && check_signed_image(image, package_offset, error);
}

}  // namespace

int run_image(const std::string& given_program, const std::string& package,
              const std::string& output, const std::string& sign_command) {
  std::string error;
  std::string program = given_program.empty() ? default_program_path() : given_program;
  if (program.empty()) {
    return report_failure("no PATCH.EXE installed beside krvpack; give the updater program: "
                          "krvpack image PATCH_EXE PACKAGE -o OUTPUT");
  }
  if (!check_output_path(output, &error)) return report_failure(error);
  if (same_file(output, program) || same_file(output, package)) {
    return report_failure("the output \"" + output + "\" would replace one of its inputs");
  }
  if (!check_image_package(package, &error)) return report_failure(error);
  std::vector<uint8_t> program_bytes, package_bytes, image;
  if (!read_whole_file(fs::u8path(program), &program_bytes, &error) ||
      !read_whole_file(fs::u8path(package), &package_bytes, &error)) {
    return report_failure(error);
  }
  std::string why = program_problem(program_bytes.data(), program_bytes.size());
  if (!why.empty()) return report_failure("the program \"" + program + "\": " + why);
  std::vector<uint8_t> part = program_part(program_bytes, program);
  BeforeRename sign;
  if (!sign_command.empty()) {
    uint32_t package_offset = static_cast<uint32_t>(part.size());
    sign = [&sign_command, package_offset](const std::string& temporary, std::string* why) {
      return run_sign_command(sign_command, temporary, package_offset, why);
    };
  }
  if (!make_image(part, package_bytes, &image, &error) ||
      !write_output_file(output, image.data(), image.size(), sign, &error)) {
    return report_failure(error);
  }
  printf_out("krvpack: wrote %s: %zu bytes (program %zu, package %zu, trailer 8)%s\n", output.c_str(),
         image.size(), part.size(), package_bytes.size(), sign_command.empty() ? "" : ", then the sign command ran");
  return 0;
}
