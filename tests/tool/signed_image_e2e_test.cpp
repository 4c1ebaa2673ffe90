// Signed images under Wine: an image signed after it was built applies
// exactly as the unsigned one, and images built by MAKEEXE and by krvpack
// from a signed PATCH.EXE sign, verify and apply.
#include "harness.h"
#include "signing_support.h"
#include "tool_support.h"

namespace {

const char kKey[] = "SOFTWARE\\KorvindaSignedE2E";

const char kManifest[] = R"(level = 7

[registry]
key = "SOFTWARE\\KorvindaSignedE2E"

[startup]
caption = "Подписанное обновление"
text = "Будет установлено обновление 7."
)";

struct Applied {
  e2e::RunResult run;
  std::map<std::string, std::string> installation;
};

class SignedImageE2eTest : public E2eTest {
 protected:
  fs::path work(const std::string& name) const { return fs::u8path(work_path(name)); }

  void SetUp() override {
    E2eTest::SetUp();
    write_file(work("old/app.exe"), "version 6");
    write_file(work("old/gone.txt"), "removed by the update");
    write_file(work("new/app.exe"), "version 7, signed");
    write_file(work("new/data/added.dat"), std::string(5000, 'd'));
    write_file(work("m.toml"), kManifest);
    RunResult diff = run_krvpack({"diff", work("old").u8string(), work("new").u8string(),
                                  "--manifest", work("m.toml").u8string(), "-o",
                                  work("update.krv").u8string()});
    ASSERT_EQ(diff.exit_code, 0) << diff.err;
    std::string log;
    ASSERT_TRUE(make_test_signer(work_dir_, &signer_, &log)) << log;
    ASSERT_TRUE(sign_with_osslsigncode(signer_, e2e::patch_exe(), work("SIGNED.EXE"), &log)) << log;
  }

  fs::path krvpack_image(const fs::path& program, const std::string& name) {
    RunResult r = run_krvpack({"image", program.u8string(), work("update.krv").u8string(), "-o",
                               work(name).u8string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return work(name);
  }

  fs::path signed_copy(const fs::path& image, const std::string& name) {
    std::string log;
    EXPECT_TRUE(sign_with_osslsigncode(signer_, image, work(name), &log)) << log;
    EXPECT_TRUE(osslsigncode_verifies(signer_, work(name), &log)) << log;
    return work(name);
  }

  // Starts the image on a fresh copy of OLD, as a user would.
  Applied apply(const fs::path& image, const std::string& installation) {
    fs::copy(work("old"), work(installation), fs::copy_options::recursive);
    e2e::Scenario s;
    s.exe = image.u8string();
    s.cwd = work_dir_;
    e2e::reg_delete_key(&s, kKey);
    e2e::reg_set_sz(&s, kKey, "ProgramPath", e2e::wine_path(work(installation).u8string()));
    e2e::reg_set_sz(&s, kKey, "ProgramName", "app.exe");
    e2e::reg_set_dword(&s, kKey, "PatchLevel", 6);
    e2e::reg_read(&s, kKey, "PatchLevel");
    s.answers = {"ok"};
    Applied applied{e2e::run_patch(s), {}};
    applied.installation = snapshot(work(installation));
    return applied;
  }

  void expect_installed(const Applied& a) {
    ASSERT_TRUE(a.run.ok) << e2e::describe(a.run);
    EXPECT_EQ(a.run.exit_code, 0);
    EXPECT_EQ(a.run.final_state.status, e2e::cp1251("Обновление успешно установлено!\r\n"))
        << e2e::describe(a.run);
    ASSERT_EQ(a.run.reads.size(), 1u);
    EXPECT_EQ(a.run.reads[0].data, e2e::dword_bytes(7));
    EXPECT_EQ(a.installation, snapshot(work("new")));
  }

  TestSigner signer_;
};

TEST_F(SignedImageE2eTest, ASignedImageAppliesExactlyAsTheUnsignedOne) {
  fs::path plain = krvpack_image(e2e::patch_exe(), "PLAIN.EXE");
  fs::path signed_image = signed_copy(plain, "SIGNED-UPDATE.EXE");
  Applied unsigned_run = apply(plain, "inst-plain");
  Applied signed_run = apply(signed_image, "inst-signed");
  expect_installed(unsigned_run);
  expect_installed(signed_run);
  EXPECT_EQ(signed_run.run.boxes.size(), unsigned_run.run.boxes.size());
  for (size_t i = 0; i < signed_run.run.boxes.size() && i < unsigned_run.run.boxes.size(); ++i) {
    EXPECT_EQ(signed_run.run.boxes[i].caption, unsigned_run.run.boxes[i].caption);
    EXPECT_EQ(signed_run.run.boxes[i].text, unsigned_run.run.boxes[i].text);
  }
  EXPECT_EQ(signed_run.run.final_state.status2, unsigned_run.run.final_state.status2);
  EXPECT_EQ(signed_run.run.waited_for_ok, unsigned_run.run.waited_for_ok);
}

TEST_F(SignedImageE2eTest, ImagesFromASignedPatchExeSignVerifyAndApply) {
  // MAKEEXE run by the signed program itself, as a publisher on Windows would.
  fs::copy_file(work("SIGNED.EXE"), work("PATCH.EXE"));
  e2e::Scenario make;
  make.exe = work("PATCH.EXE").u8string();
  make.cwd = work_dir_;
  make.command_line = "\"PATCH.EXE\" \"update.krv\" \"MADE.EXE\" MAKEEXE";
  e2e::RunResult made = e2e::run_patch(make);
  ASSERT_TRUE(made.ok) << e2e::describe(made);
  ASSERT_TRUE(e2e::file_exists(work("MADE.EXE").u8string()));
  fs::path from_krvpack = krvpack_image(work("SIGNED.EXE"), "KRVPACK.EXE");
  EXPECT_EQ(read_file(work("MADE.EXE")), read_file(from_krvpack))
      << "MAKEEXE and krvpack take the signature off alike";

  int n = 0;
  for (const fs::path& image : {work("MADE.EXE"), from_krvpack}) {
    SCOPED_TRACE(image.filename().u8string());
    ++n;
    fs::path signed_image = signed_copy(image, "signed-" + std::to_string(n) + ".exe");
    expect_installed(apply(signed_image, "inst-" + std::to_string(n)));
  }
}

TEST_F(SignedImageE2eTest, ASignedImageWhoseTableIsNoLongerAtTheEndIsRefused) {
  fs::path signed_image = signed_copy(krvpack_image(e2e::patch_exe(), "PLAIN.EXE"), "S.EXE");
  std::string bytes = read_file(signed_image);
  write_file(work("APPENDED.EXE"), bytes + "x");
  e2e::Scenario s;
  s.exe = work("APPENDED.EXE").u8string();
  s.cwd = work_dir_;
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << e2e::describe(r);
  EXPECT_EQ(r.final_state.status, "Usage: PATCH.EXE resource_nm [output_nm MAKEEXE]")
      << e2e::describe(r);
  EXPECT_TRUE(r.waited_for_ok);
  EXPECT_TRUE(r.boxes.empty());
}

}  // namespace
