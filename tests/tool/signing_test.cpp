// Signed images with the publishers' tool and the standard signer: a signed
// PATCH.EXE goes into an image without its signature, a signed image
// verifies with osslsigncode and krvpack, lists and extracts as the
// unsigned one, and one changed byte breaks the signature.
#include <nlohmann/json.hpp>

#include "package_layout.h"
#include "package_writer.h"
#include "pe_image.h"
#include "section_builders.h"
#include "signing_support.h"
#include "tool_support.h"

namespace {

using nlohmann::json;

std::vector<uint8_t> bytes_of(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class SigningTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    patch_exe_ = read_file(KRV_PATCH_EXE);
    ASSERT_FALSE(patch_exe_.empty()) << KRV_PATCH_EXE << " is missing: run scripts/build.sh";
    std::string log;
    ASSERT_TRUE(make_test_signer(dir_, &signer_, &log)) << log;
    write_file(dir_ / "PATCH.EXE", patch_exe_);
    ASSERT_TRUE(sign_with_osslsigncode(signer_, dir_ / "PATCH.EXE", dir_ / "SIGNED.EXE", &log))
        << log;
    write_package();
  }

  void write_package() {
    std::vector<PreparedEntry> entries = {
        plain_entry(kRegistryKeysName,
                    build_registry_keys("SOFTWARE\\K", "ProgramPath", "ProgramName", "PatchLevel", 2)),
        compressed_entry("readme.txt", std::string(3000, 'r')),
        compressed_entry("bin\\tool.dll", "a small library")};
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(::write_package(entries, PackageLayout{}, &bytes, &error)) << error;
    package_ = std::string(bytes.begin(), bytes.end());
    write_file(dir_ / "update.krv", package_);
  }

  fs::path image_from(const std::string& program, const std::string& name) {
    fs::path out = dir_ / name;
    RunResult r = run_krvpack({"image", (dir_ / program).u8string(), (dir_ / "update.krv").u8string(),
                               "-o", out.u8string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return out;
  }

  fs::path signed_image(const std::string& program, const std::string& name) {
    fs::path unsigned_image = image_from(program, name + ".unsigned");
    std::string log;
    EXPECT_TRUE(sign_with_osslsigncode(signer_, unsigned_image, dir_ / name, &log)) << log;
    return dir_ / name;
  }

  std::string patch_exe_, package_;
  TestSigner signer_;
};

TEST_F(SigningTest, ChecksumAgreesWithTheSignersOwn) {
  // osslsigncode writes the checksum of the signed file into it.
  std::string signed_exe = read_file(dir_ / "SIGNED.EXE");
  std::vector<uint8_t> bytes = bytes_of(signed_exe);
  PeHeaders headers;
  ASSERT_EQ(read_pe_headers(ByteSpan{bytes.data(), bytes.size()}, &headers), PeStatus::kOk);
  EXPECT_EQ(pe_checksum(bytes.data(), bytes.size(), headers.checksum_offset),
            read_le32(bytes.data() + headers.checksum_offset));
}

TEST_F(SigningTest, ASignedProgramGoesIntoTheImageWithoutItsSignature) {
  std::string from_unsigned = read_file(image_from("PATCH.EXE", "a.exe"));
  std::string from_signed = read_file(image_from("SIGNED.EXE", "b.exe"));
  const size_t e = patch_exe_.size();
  ASSERT_EQ(from_unsigned.substr(0, e), patch_exe_) << "an unsigned program is copied whole";

  // The signed program less its table: PATCH.EXE with the signer's 8-byte
  // alignment, the security entry zeroed and a recomputed checksum.
  const size_t part = (e + 7) & ~size_t{7};
  ASSERT_EQ(from_signed.size(), part + package_.size() + 8);
  std::vector<uint8_t> program = bytes_of(from_signed.substr(0, part));
  PeHeaders headers;
  ASSERT_EQ(read_pe_headers(ByteSpan{program.data(), program.size()}, &headers), PeStatus::kOk);
  EXPECT_EQ(headers.certificate_offset, 0u);
  EXPECT_EQ(headers.certificate_size, 0u);
  EXPECT_EQ(read_le32(program.data() + headers.checksum_offset),
            pe_checksum(program.data(), program.size(), headers.checksum_offset));
  std::string expected = patch_exe_ + std::string(part - e, '\0');
  std::string got = from_signed.substr(0, part);
  expected.replace(headers.checksum_offset, 4, 4, '\0');
  got.replace(headers.checksum_offset, 4, 4, '\0');
  EXPECT_TRUE(got == expected) << "only the checksum differs from the unsigned program";
  EXPECT_EQ(from_signed.substr(part, package_.size()), package_);
  std::vector<uint8_t> trailer = bytes_of(from_signed.substr(part + package_.size()));
  EXPECT_EQ(read_le32(trailer.data()), part);
  EXPECT_EQ(from_signed.substr(from_signed.size() - 4), "KRVD");
}

TEST_F(SigningTest, ASignedImageVerifiesListsAndExtractsLikeTheUnsignedOne) {
  fs::path plain = image_from("PATCH.EXE", "plain.exe");
  for (const char* program : {"PATCH.EXE", "SIGNED.EXE"}) {
    SCOPED_TRACE(program);
    fs::path image = signed_image(program, std::string("signed-from-") + program);
    std::string log;
    EXPECT_TRUE(osslsigncode_verifies(signer_, image, &log)) << log;

    RunResult verify = run_krvpack({"verify", image.u8string()});
    EXPECT_EQ(verify.exit_code, 0) << verify.err;
    EXPECT_NE(verify.out.find("OK: self-contained image, 2 files"), std::string::npos) << verify.out;
    EXPECT_NE(verify.out.find(std::string("signed by ") + "O=Korvinda Tests,CN=" + kTestSignerName),
              std::string::npos) << verify.out;
    EXPECT_NE(verify.out.find("SHA256 digest matches the file"), std::string::npos) << verify.out;

    RunResult listed = run_krvpack({"list", "--json", image.u8string()});
    RunResult listed_plain = run_krvpack({"list", "--json", plain.u8string()});
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    json a = json::parse(listed.out), b = json::parse(listed_plain.out);
    EXPECT_EQ(a["signed"], true);
    EXPECT_EQ(b["signed"], false);
    EXPECT_EQ(a["kind"], "image");
    EXPECT_EQ(a["entries"], b["entries"]);
    EXPECT_EQ(a["sections"], b["sections"]);

    fs::path out = dir_ / (std::string("x-") + program);
    RunResult extracted = run_krvpack({"extract", image.u8string(), "-C", out.u8string()});
    EXPECT_EQ(extracted.exit_code, 0) << extracted.err;
    EXPECT_EQ(read_file(out / "readme.txt"), std::string(3000, 'r'));
    EXPECT_EQ(read_file(out / "bin" / "tool.dll"), "a small library");
  }
  RunResult unsigned_verify = run_krvpack({"verify", plain.u8string()});
  EXPECT_NE(unsigned_verify.out.find(plain.u8string() + ": not signed\n"), std::string::npos)
      << unsigned_verify.out;
  RunResult package_verify = run_krvpack({"verify", (dir_ / "update.krv").u8string()});
  EXPECT_EQ(package_verify.out.find("signed"), std::string::npos) << package_verify.out;
}

TEST_F(SigningTest, OneChangedByteBreaksTheSignature) {
  fs::path image = signed_image("PATCH.EXE", "signed.exe");
  const std::string original = read_file(image);
  struct Flip {
    const char* where;
    size_t at;
    const char* krvpack_says;
  };
  const size_t e = patch_exe_.size();
  const Flip flips[] = {
      // Package part: the reader's own checks find it too.
      {"in the package", e + package_.size() / 2, ""},
      {"in the program", 0x1000, "digest does not match the file"},
  };
  for (const Flip& f : flips) {
    SCOPED_TRACE(f.where);
    std::string changed = original;
    changed[f.at] = static_cast<char>(changed[f.at] ^ 0x01);
    fs::path path = dir_ / "changed.exe";
    write_file(path, changed);
    std::string log;
    EXPECT_FALSE(osslsigncode_verifies(signer_, path, &log)) << log;
    RunResult verify = run_krvpack({"verify", path.u8string()});
    EXPECT_EQ(verify.exit_code, 1) << verify.out;
    EXPECT_NE(verify.err.find(f.krvpack_says), std::string::npos) << verify.err;
  }
}

TEST_F(SigningTest, SignCommandSignsBeforeTheRenameAndItsFailureWritesNothing) {
  fs::path out = dir_ / "update.exe";
  RunResult r = run_krvpack({"image", (dir_ / "SIGNED.EXE").u8string(),
                             (dir_ / "update.krv").u8string(), "-o", out.u8string(),
                             "--sign-command", osslsigncode_sign_command(signer_)});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::string log;
  EXPECT_TRUE(osslsigncode_verifies(signer_, out, &log)) << log;
  EXPECT_TRUE(temp_leftovers(dir_).empty());

  struct FailingCase {
    const char* name;
    std::string command;
    const char* message;
  };
  const FailingCase cases[] = {
      {"the command fails", "exit 3", "the sign command failed (exit status 3)"},
      {"no signed copy where {signed} said", "true {image} {signed}", "wrote no signed image"},
      {"the image is cut short", "truncate -s 1000 {image}", "no longer finds its package"},
  };
  write_file(out, "the image shipped before");
  for (const FailingCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult failed = run_krvpack({"image", (dir_ / "PATCH.EXE").u8string(),
                                    (dir_ / "update.krv").u8string(), "-o", out.u8string(),
                                    "--sign-command", c.command});
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_NE(failed.err.find(c.message), std::string::npos) << failed.err;
    EXPECT_EQ(read_file(out), "the image shipped before");
    EXPECT_TRUE(temp_leftovers(dir_).empty());
  }
}

// As images were built before programs were taken out of their
// signature: the table sits in the middle, the image still runs.
TEST_F(SigningTest, AnImageCarryingItsProgramsOwnSignatureVerifiesWithAWarning) {
  std::vector<uint8_t> image;
  std::string error;
  ASSERT_TRUE(make_image(bytes_of(read_file(dir_ / "SIGNED.EXE")), bytes_of(package_), &image, &error))
      << error;
  write_file(dir_ / "old-style.exe", std::string(image.begin(), image.end()));
  RunResult verify = run_krvpack({"verify", (dir_ / "old-style.exe").u8string()});
  EXPECT_EQ(verify.exit_code, 0) << verify.err;
  EXPECT_NE(verify.err.find("warning"), std::string::npos) << verify.err;
  EXPECT_NE(verify.err.find("not at the file's end"), std::string::npos) << verify.err;
  EXPECT_EQ(verify.out.find("signed"), std::string::npos) << verify.out;
  std::string log;
  EXPECT_FALSE(osslsigncode_verifies(signer_, dir_ / "old-style.exe", &log)) << log;
}

}  // namespace
