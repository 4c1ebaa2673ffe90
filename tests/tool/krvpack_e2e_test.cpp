// The publisher's path end to end: two folders, krvpack diff, verify and
// image, then the image applied by PATCH.EXE under Wine. The installation
// must equal NEW afterwards, and krvpack's image must equal MAKEEXE's.
#include <nlohmann/json.hpp>

#include "harness.h"
#include "tool_support.h"

namespace {

const char kKey[] = "SOFTWARE\\KorvindaKrvpackE2E";

const char kManifest[] = R"(level = 5

[registry]
key = "SOFTWARE\\KorvindaKrvpackE2E"

[startup]
caption = "Обновление «Корвинда»"
text = "Будет установлено обновление 5.\nПродолжить?"
)";

void make_trees(const fs::path& old_dir, const fs::path& new_dir) {
  write_file(old_dir / "app.exe", "program, version 4");
  write_file(old_dir / "same.txt", "unchanged");
  write_file(old_dir / "data/old.dat", "goes away");
  write_file(old_dir / "gone/deep/x.txt", "x");
  write_file(old_dir / fs::u8path("Документы/отчёт.txt"), "отчёт 4");
  write_file(new_dir / "app.exe", "program, version 5, a little longer");
  write_file(new_dir / "same.txt", "unchanged");
  write_file(new_dir / "data/new.dat", std::string(20000, 'n'));
  write_file(new_dir / fs::u8path("Документы/отчёт.txt"), "отчёт 5");
  write_file(new_dir / fs::u8path("a folder with a long name/файл с пробелом.txt"), "spaced");
  write_file(new_dir / "empty.txt", "");
  fs::create_directories(new_dir / "logs/old");
}

class KrvpackE2eTest : public E2eTest {
 protected:
  fs::path work(const std::string& name) const { return fs::u8path(work_path(name)); }

  // The three commands of the publishers' guide.
  void publish() {
    make_trees(work("old"), work("new"));
    write_file(work("m.toml"), kManifest);
    RunResult diff = run_krvpack({"diff", work("old").u8string(), work("new").u8string(),
                                  "--manifest", work("m.toml").u8string(), "-o",
                                  work("update.krv").u8string()});
    ASSERT_EQ(diff.exit_code, 0) << diff.err;
    RunResult verify = run_krvpack({"verify", work("update.krv").u8string()});
    ASSERT_EQ(verify.exit_code, 0) << verify.err;
    RunResult image = run_krvpack({"image", e2e::patch_exe(), work("update.krv").u8string(), "-o",
                                   work("UPDATE.EXE").u8string()});
    ASSERT_EQ(image.exit_code, 0) << image.err;
  }
};

TEST_F(KrvpackE2eTest, PatchExeAppliesADiffPackageSoTheInstallationEqualsNew) {
  ASSERT_NO_FATAL_FAILURE(publish());
  fs::copy(work("old"), work("inst"), fs::copy_options::recursive);

  e2e::Scenario s;
  s.exe = work("UPDATE.EXE").u8string();
  s.cwd = work_dir_;
  e2e::reg_delete_key(&s, kKey);
  e2e::reg_set_sz(&s, kKey, "ProgramPath", e2e::wine_path(work("inst").u8string()));
  e2e::reg_set_sz(&s, kKey, "ProgramName", "app.exe");
  e2e::reg_set_dword(&s, kKey, "PatchLevel", 4);
  e2e::reg_read(&s, kKey, "PatchLevel");
  s.answers = {"ok"};
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << e2e::describe(r);
  EXPECT_EQ(r.exit_code, 0);
  ASSERT_EQ(r.boxes.size(), 1u) << e2e::describe(r);
  EXPECT_EQ(r.boxes[0].caption, e2e::cp1251("Обновление «Корвинда»"));
  EXPECT_EQ(r.boxes[0].text, e2e::cp1251("Будет установлено обновление 5.\r\nПродолжить?"));
  EXPECT_EQ(r.final_state.status, e2e::cp1251("Обновление успешно установлено!\r\n"))
      << e2e::describe(r);
  ASSERT_EQ(r.reads.size(), 1u);
  EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(5));
  EXPECT_EQ(snapshot(work("inst")), snapshot(work("new")));
}

TEST_F(KrvpackE2eTest, ImageEqualsWhatMakeexeMakes) {
  ASSERT_NO_FATAL_FAILURE(publish());
  fs::copy_file(e2e::patch_exe(), work("PATCH.EXE"));
  e2e::Scenario s;
  s.exe = work("PATCH.EXE").u8string();
  s.cwd = work_dir_;
  s.command_line = "\"PATCH.EXE\" \"update.krv\" \"MADE.EXE\" MAKEEXE";
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << e2e::describe(r);
  std::string made = read_file(work("MADE.EXE"));
  ASSERT_FALSE(made.empty());
  EXPECT_EQ(read_file(work("UPDATE.EXE")), made);
}

}  // namespace
