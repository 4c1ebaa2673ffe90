// A fixture for update runs: an installed application (a folder with its
// program file and a registry key of its own) and packages built with the
// package writer, applied by PATCH.EXE under Wine.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "harness.h"
#include "package_writer.h"
#include "section_builders.h"

class UpdateTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    app_dir_ = work_path("app");
    ASSERT_EQ(mkdir(app_dir_.c_str(), 0755), 0);
    ASSERT_TRUE(e2e::write_file(app(kProgram), std::string("the application")));
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    key_ = std::string("SOFTWARE\\KorvindaTests\\") + info->test_suite_name() + "_" + info->name();
    for (char& c : key_) {
      if (c == '/') c = '_';
    }
  }

  static constexpr const char* kProgram = "app.exe";

  // Native path of a file or folder in the installation.
  std::string app(const std::string& relative) const { return app_dir_ + "/" + relative; }
  // The installation folder as the updater sees it, with its backslash.
  std::string install_dir() const { return e2e::wine_path(app_dir_) + "\\"; }

  // ":RegistryKeys" naming this test's key and the usual value names.
  PreparedEntry registry_keys(int32_t package_level) const {
    return compressed_entry(kRegistryKeysName,
                            build_registry_keys(key_, "ProgramPath", "ProgramName", "PatchLevel",
                                                package_level));
  }

  static std::vector<uint8_t> package_of(const std::vector<PreparedEntry>& entries,
                                         const PackageLayout& layout = PackageLayout{}) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(write_package(entries, layout, &bytes, &error)) << error;
    return bytes;
  }

  // A scenario that applies `package` named on the command line, with the
  // installation registered: folder and program name, and the installed
  // level unless it is absent.
  e2e::Scenario apply(const std::vector<uint8_t>& package, bool with_level = false,
                      int64_t installed_level = 0) {
    std::string path = work_path("update.krv");
    EXPECT_TRUE(e2e::write_file(path, package));
    e2e::Scenario s = e2e::patch_scenario({e2e::quoted(e2e::wine_path(path))});
    register_installation(&s);
    if (with_level) e2e::reg_set_dword(&s, key_, "PatchLevel", installed_level);
    e2e::reg_read(&s, key_, "PatchLevel");
    return s;
  }

  void register_installation(e2e::Scenario* s) const {
    e2e::reg_delete_key(s, key_);
    e2e::reg_set_sz(s, key_, "ProgramPath", e2e::wine_path(app_dir_));
    e2e::reg_set_sz(s, key_, "ProgramName", kProgram);
  }

  std::string content(const std::string& relative) const {
    std::string bytes;
    if (!e2e::read_file(app(relative), &bytes)) return "<missing>";
    return bytes;
  }

  bool exists(const std::string& relative) const {
    struct stat info;
    return lstat(app(relative).c_str(), &info) == 0;
  }

  bool is_dir(const std::string& relative) const {
    struct stat info;
    return stat(app(relative).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }

  static std::string text(const char* utf8) { return e2e::cp1251(utf8); }

  static std::string updated_line(const std::string& target) {
    return text("Обновление успешно завершено!\r\n(") + target + ")\r\n";
  }
  static std::string failed_line(const std::string& target) {
    return text("Ошибка в процессе обновления файла!\r\n(") + target + ")\r\n";
  }

  std::string app_dir_;
  std::string key_;
};

inline const char kInstalled[] = "Обновление успешно установлено!\r\n";
inline const char kNotFound[] = "Оригинальная программа не найдена на вашем компьютере!\r\n";
inline const char kLevelPrompt[] =
    "Обнаружено текущее или более позднее обновление!\r\nПродолжить установку?\r\n";
inline const char kCommandsFailed[] = "Ошибка при исполнении внешних программ!\r\n";
