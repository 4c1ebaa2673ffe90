// The run's phases in-process through a fake UserChannel: installation
// lookup, the questions, file replacement with backup and restore, external
// commands with their marker, removal and completion. Names, folders, keys
// and texts are Cyrillic (and Greek and Chinese where a folder must be
// outside every ANSI code page), so the same tests show the run independent
// of the system's code page; ctest runs them under 1251 and under 1252.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "cp1251.h"
#include "fake_user.h"
#include "package_writer.h"
#include "section_builders.h"
#include "update_worker.h"

namespace {

// Package text: UTF-8 literals of the test as Windows-1251 bytes.
std::string cp(const std::string& utf8) {
  std::string bytes;
  std::string error;
  EXPECT_TRUE(utf8_to_cp1251(utf8, &bytes, &error)) << error;
  return bytes;
}

std::wstring widen(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), n);
  return text;
}

// A path for a failure message (gtest prints narrow text).
std::string narrow_for_trace(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n,
                      nullptr, nullptr);
  return bytes;
}

// The tests' own long-path form, built without the code under test.
std::wstring lp(const std::wstring& absolute) { return L"\\\\?\\" + absolute; }

bool write_file(const std::wstring& path, const std::string& content) {
  HANDLE file = CreateFileW(lp(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = content.empty() || WriteFile(file, content.data(), static_cast<DWORD>(content.size()),
                                         &written, nullptr);
  CloseHandle(file);
  return ok && written == content.size();
}

std::string read_file(const std::wstring& path) {
  HANDLE file = CreateFileW(lp(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string content;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) content.append(chunk, got);
  CloseHandle(file);
  return content;
}

bool exists(const std::wstring& path) {
  return GetFileAttributesW(lp(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_dir(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(lp(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void make_dirs(const std::wstring& path) {
  for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos;
       slash = path.find(L'\\', slash + 1)) {
    CreateDirectoryW(lp(path.substr(0, slash)).c_str(), nullptr);
  }
  CreateDirectoryW(lp(path).c_str(), nullptr);
}

void remove_tree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(lp(path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(child);
      } else {
        SetFileAttributesW(lp(child).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(lp(child).c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(lp(path).c_str());
}

const wchar_t kInstalled[] = L"Обновление успешно установлено!\r\n";
const wchar_t kNotFound[] = L"Оригинальная программа не найдена на вашем компьютере!\r\n";
const wchar_t kLevelPrompt[] =
    L"Обнаружено текущее или более позднее обновление!\r\nПродолжить установку?\r\n";
const wchar_t kCommandsFailed[] = L"Ошибка при исполнении внешних программ!\r\n";
const wchar_t kUsage[] = L"Usage: PATCH.EXE resource_nm [output_nm MAKEEXE]";

std::wstring updated_line(const std::wstring& target) {
  return L"Обновление успешно завершено!\r\n(" + target + L")\r\n";
}
std::wstring failed_line(const std::wstring& shown) {
  return L"Ошибка в процессе обновления файла!\r\n(" + shown + L")\r\n";
}

constexpr int32_t kPackageLevel = 5;

// What is registered of an installation.
struct Registration {
  bool key = true;
  bool folder_value = true;
  bool program_value = true;
  bool program_file = true;
  bool folder_with_backslash = false;
  bool has_level = false;
  DWORD level = 0;
};

// One installed application per case: a folder below the test's own work
// folder and a key (with Cyrillic names) in the 32-bit registry view.
class PhaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    ASSERT_GT(length, 0u);
    test_name_ = widen(std::string(info->test_suite_name()) + "_" + info->name());
    for (wchar_t& c : test_name_) {
      if (c == L'/') c = L'_';
    }
    work_ = std::wstring(temp, length) + L"krv_phase_tests\\" + test_name_;
    remove_tree(work_);
    make_dirs(work_);
    use_case(L"app");
  }

  void TearDown() override {
    delete_key();
    remove_tree(work_);
  }

  // Chooses the installation folder (below the work folder) and a key of
  // its own for the next case of a table.
  void use_case(const std::wstring& folder) {
    app_dir_ = work_ + L"\\" + folder;
    key_ = L"SOFTWARE\\KorvindaPhaseTests\\Ключ " + test_name_ + L" " + std::to_wstring(++cases_);
    user_ = FakeUser{};
  }

  std::wstring app(const std::wstring& relative) const { return app_dir_ + L"\\" + relative; }

  void install(const Registration& r = Registration{}) {
    make_dirs(app_dir_);
    if (r.program_file) {
      ASSERT_TRUE(write_file(app(L"app.exe"), "the application"));
    }
    if (!r.key) return;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (r.folder_value) set_text(key, L"Путь", app_dir_ + (r.folder_with_backslash ? L"\\" : L""));
    if (r.program_value) set_text(key, L"Программа", L"app.exe");
    if (r.has_level) {
      RegSetValueExW(key, L"Уровень", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&r.level),
                     sizeof r.level);
    }
    RegCloseKey(key);
  }

  static void set_text(HKEY key, const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  // The installed level, or -1 when the value is absent.
  int64_t installed_level() const {
    DWORD level = 0;
    DWORD size = sizeof level;
    LONG result = RegGetValueW(HKEY_LOCAL_MACHINE, key_.c_str(), L"Уровень",
                               RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6432KEY, nullptr, &level, &size);
    return result == ERROR_SUCCESS ? static_cast<int64_t>(level) : -1;
  }

  void delete_key() {
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                      &parent) == ERROR_SUCCESS) {
      RegDeleteTreeW(parent, L"KorvindaPhaseTests");
      RegCloseKey(parent);
    }
  }

  std::string key_bytes() const {
    int n = WideCharToMultiByte(1251, 0, key_.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(1251, 0, key_.c_str(), -1, bytes.data(), n, nullptr, nullptr);
    bytes.resize(bytes.size() - 1);
    return bytes;
  }

  // ":RegistryKeys" for this case's key, then `entries`; applied as
  // PATCH.EXE "<package>".
  RunOutcome apply(std::vector<PreparedEntry> entries, int32_t level = kPackageLevel) {
    entries.insert(entries.begin(),
                   compressed_entry(kRegistryKeysName,
                                    build_registry_keys(key_bytes(), cp("Путь"), cp("Программа"),
                                                        cp("Уровень"), level)));
    std::vector<uint8_t> bytes;
    std::string error;
    // With the checksum section, as the publishers' tool writes packages: a
    // stream spoiled by its writer then passes the check before the first
    // write and fails where it is written.
    PackageLayout layout;
    layout.checksums = true;
    EXPECT_TRUE(write_package(entries, layout, &bytes, &error)) << error;
    std::wstring package = work_ + L"\\обновление " + std::to_wstring(cases_) + L".krv";
    EXPECT_TRUE(write_file(package, std::string(bytes.begin(), bytes.end())));
    return run_update(L"PATCH.EXE \"" + package + L"\"", user_);
  }

  std::wstring test_name_;
  std::wstring work_;
  std::wstring app_dir_;
  std::wstring key_;
  int cases_ = 0;
  FakeUser user_;
};

TEST(Environment, AnsiCodePageIsTheOneAsked) {
  const char* expected = std::getenv("KRV_EXPECTED_ACP");
  if (expected == nullptr) GTEST_SKIP() << "KRV_EXPECTED_ACP not set";
  EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected)));
}

TEST_F(PhaseTest, InstallationLookup) {
  struct Row {
    const char* what;
    Registration registration;
    std::vector<std::wstring> statuses_before_end;  // shown before the last status
    RunFailure failure;
  };
  Registration no_key;
  no_key.key = false;
  Registration no_folder;
  no_folder.folder_value = false;
  Registration no_program;
  no_program.program_value = false;
  Registration no_file;
  no_file.program_file = false;
  Registration backslash;
  backslash.folder_with_backslash = true;
  const Row rows[] = {
      {"no key", no_key, {L"key"}, RunFailure::kInstallationNotFound},
      {"no folder value", no_folder, {L"Ошибка при чтении из Windows registry (Путь)\r\n"},
       RunFailure::kInstallationNotFound},
      {"no program value", no_program,
       {L"Ошибка при чтении из Windows registry (Программа)\r\n"},
       RunFailure::kInstallationNotFound},
      {"program file missing", no_file, {}, RunFailure::kInstallationNotFound},
      {"everything present", Registration{}, {}, RunFailure::kNone},
      {"folder value ends in a backslash", backslash, {}, RunFailure::kNone},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    use_case(L"приложение " + std::to_wstring(cases_ + 1));
    install(row.registration);
    RunOutcome outcome = apply({compressed_entry(cp("Файл.txt"), "new")});
    EXPECT_EQ(outcome.failure, row.failure);
    EXPECT_TRUE(outcome.wait_for_ok);
    EXPECT_EQ(user_.unexpected_questions, 0);
    if (row.failure != RunFailure::kNone) {
      EXPECT_EQ(user_.last_status(), kNotFound);
      EXPECT_FALSE(exists(app(L"Файл.txt")));
      EXPECT_EQ(installed_level(), -1);
      for (const std::wstring& wanted : row.statuses_before_end) {
        std::wstring text = wanted == L"key"
                                ? L"Ошибка при получении ключа " + key_ + L" из Windows registry\r\n"
                                : wanted;
        ASSERT_GE(user_.statuses.size(), 2u);
        EXPECT_EQ(user_.statuses.front(), text);
      }
      continue;
    }
    EXPECT_EQ(read_file(app(L"Файл.txt")), "new");
    EXPECT_EQ(user_.last_status(), kInstalled);
    EXPECT_EQ(installed_level(), kPackageLevel);
    ASSERT_EQ(user_.events_of(RunEventKind::kInstallationFound).size(), 1u);
    EXPECT_EQ(user_.events_of(RunEventKind::kInstallationFound)[0]->path, app_dir_ + L"\\");
    // The displayed target has exactly one backslash after the folder.
    EXPECT_NE(std::find(user_.statuses.begin(), user_.statuses.end(),
                        updated_line(app(L"Файл.txt"))),
              user_.statuses.end());
  }
}

TEST_F(PhaseTest, PatchLevelPrompt) {
  struct Row {
    const char* what;
    bool has_level;
    DWORD installed;
    std::vector<bool> answers;  // one per question expected
    bool applied;
  };
  const Row rows[] = {
      {"no installed level", false, 0, {}, true},
      {"installed level lower", true, 4, {}, true},
      {"same level, OK", true, 5, {true}, true},
      {"same level, Cancel", true, 5, {false}, false},
      {"later level, OK", true, 9, {true}, true},
      {"later level, Cancel", true, 9, {false}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    use_case(L"уровень " + std::to_wstring(cases_ + 1));
    Registration registration;
    registration.has_level = row.has_level;
    registration.level = row.installed;
    install(registration);
    user_.answers.assign(row.answers.begin(), row.answers.end());
    RunOutcome outcome = apply({compressed_entry(cp("Файл.txt"), "new")});
    ASSERT_EQ(user_.asked.size(), row.answers.size());
    for (const AskedQuestion& asked : user_.asked) {
      EXPECT_EQ(asked.question, Question::kPatchLevel);
      EXPECT_EQ(asked.caption, L"!");
      EXPECT_EQ(asked.text, kLevelPrompt);
    }
    ASSERT_EQ(user_.events_of(RunEventKind::kInstallationFound).size(), 1u);
    EXPECT_EQ(user_.events_of(RunEventKind::kInstallationFound)[0]->value,
              static_cast<int64_t>(row.installed));
    if (row.applied) {
      EXPECT_EQ(outcome.failure, RunFailure::kNone);
      EXPECT_TRUE(outcome.wait_for_ok);
      EXPECT_EQ(read_file(app(L"Файл.txt")), "new");
      EXPECT_EQ(installed_level(), kPackageLevel);
    } else {
      EXPECT_EQ(outcome.failure, RunFailure::kDeclinedByUser);
      EXPECT_FALSE(outcome.wait_for_ok) << "a declined run closes by itself";
      EXPECT_FALSE(exists(app(L"Файл.txt")));
      EXPECT_EQ(installed_level(), static_cast<int64_t>(row.installed));
      EXPECT_TRUE(user_.statuses.empty());
    }
  }
}

TEST_F(PhaseTest, StartupMessageComesFirstInUtf16) {
  for (bool ok : {true, false}) {
    SCOPED_TRACE(ok ? "OK" : "Cancel");
    use_case(ok ? L"согласие" : L"отказ");
    Registration registration;
    registration.has_level = true;
    registration.level = kPackageLevel;  // the level prompt follows an OK
    install(registration);
    user_.answers = {ok, true};
    RunOutcome outcome = apply(
        {compressed_entry(kStartupMsgName, build_startup_message(cp("Обновление «Весна»"),
                                                                 cp("Закройте программу.\r\nДалее?"))),
         compressed_entry(cp("Файл.txt"), "new")});
    ASSERT_GE(user_.asked.size(), 1u);
    EXPECT_EQ(user_.asked[0].question, Question::kStartupMessage);
    EXPECT_EQ(user_.asked[0].caption, L"Обновление «Весна»");
    EXPECT_EQ(user_.asked[0].text, L"Закройте программу.\r\nДалее?");
    if (ok) {
      ASSERT_EQ(user_.asked.size(), 2u);
      EXPECT_EQ(user_.asked[1].question, Question::kPatchLevel);
      EXPECT_EQ(outcome.failure, RunFailure::kNone);
      EXPECT_EQ(read_file(app(L"Файл.txt")), "new");
    } else {
      EXPECT_EQ(user_.asked.size(), 1u) << "no level prompt after Cancel";
      EXPECT_EQ(outcome.failure, RunFailure::kDeclinedByUser);
      EXPECT_FALSE(outcome.wait_for_ok);
      EXPECT_FALSE(exists(app(L"Файл.txt")));
    }
  }
}

TEST_F(PhaseTest, CyrillicNamesFoldersAndTranslatedNamesLandRight) {
  install();
  ASSERT_TRUE(write_file(app(L"Справка.txt"), "old help"));
  const std::wstring long_name = L"Документы\\Очень длинное имя отчёта за первый квартал.txt";
  RunOutcome outcome = apply({
      compressed_entry(kFoldersName, build_string_list({cp("Документы"), cp("Пустая папка")})),
      compressed_entry(kXlatNamesTableName,
                       build_name_table({{substitute_name(1), cp("Документы\\Очень длинное имя отчёта за первый квартал.txt")},
                                         {substitute_name(2), cp("Новая\\Вложенная\\файл.txt")}})),
      compressed_entry(cp("Справка.txt"), "new help"),
      compressed_entry(substitute_name(1), "report"),
      plain_entry(substitute_name(2), ""),
  });
  EXPECT_EQ(outcome.failure, RunFailure::kNone);
  EXPECT_FALSE(outcome.any_failure);
  EXPECT_EQ(read_file(app(L"Справка.txt")), "new help");
  EXPECT_FALSE(exists(app(L"Справка.txt.bak")));
  EXPECT_EQ(read_file(app(long_name)), "report");
  EXPECT_EQ(read_file(app(L"Новая\\Вложенная\\файл.txt")), "");
  EXPECT_TRUE(is_dir(app(L"Пустая папка")));
  std::vector<std::wstring> expected_statuses = {
      L"Обновляем файл Справка.txt....",
      updated_line(app(L"Справка.txt")),
      L"Обновляем файл " + long_name + L"....",
      updated_line(app(long_name)),
      L"Обновляем файл Новая\\Вложенная\\файл.txt....",
      updated_line(app(L"Новая\\Вложенная\\файл.txt")),
      kInstalled,
  };
  EXPECT_EQ(user_.statuses, expected_statuses);
  EXPECT_EQ(user_.events_of(RunEventKind::kFileWritten).size(), 3u);
  // Two from the folder list, two made on the way to a file.
  std::vector<std::wstring> folders;
  for (const RecordedEvent* event : user_.events_of(RunEventKind::kFolderCreated)) {
    folders.push_back(event->path);
  }
  EXPECT_EQ(folders, (std::vector<std::wstring>{app(L"Документы"), app(L"Пустая папка"),
                                                app(L"Новая"), app(L"Новая\\Вложенная")}));
}

// Written files are closed on a thread of their own. A later entry for the
// same file (in any case), or for the name its backup takes, must find it
// closed: it is moved aside, written again and its backup removed as for
// any file.
TEST_F(PhaseTest, FileWrittenTwiceInOneRunIsReplacedAgain) {
  const struct {
    const char* what;
    std::string first, second;
    std::wstring target;
    std::wstring gone;  // removed as the second file's backup
  } rows[] = {
      {"twice in the installation folder", "Файл.txt", "файл.TXT", L"Файл.txt", L"Файл.txt.bak"},
      {"twice in a folder the run made", "Новая\\Файл.txt", "НОВАЯ\\файл.txt",
       L"Новая\\Файл.txt", L"Новая\\Файл.txt.bak"},
      {"the backup name first", "Новая\\Файл.txt.bak", "Новая\\Файл.txt", L"Новая\\Файл.txt",
       L"Новая\\Файл.txt.bak"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    use_case(widen(row.what));
    install();
    RunOutcome outcome = apply({
        compressed_entry(kXlatNamesTableName,
                         build_name_table({{substitute_name(1), cp(row.first)},
                                           {substitute_name(2), cp(row.second)}})),
        compressed_entry(substitute_name(1), "first"),
        compressed_entry(substitute_name(2), "second"),
    });
    EXPECT_EQ(outcome.failure, RunFailure::kNone);
    EXPECT_TRUE(user_.events_of(RunEventKind::kFileFailed).empty());
    EXPECT_EQ(read_file(app(row.target)), "second");
    EXPECT_FALSE(exists(app(row.gone)));
  }
}

TEST_F(PhaseTest, FailedFilesAreRestoredAndReportedWithTheirError) {
  install();
  ASSERT_TRUE(write_file(app(L"Занят.txt"), "held"));
  ASSERT_TRUE(write_file(app(L"Битый.txt"), "old"));
  // A stream that does not decode: the write fails after the backup was made.
  PreparedEntry broken = compressed_entry(cp("Битый.txt"), std::string(64, 'x'));
  for (size_t i = 2; i < broken.stored.size(); ++i) broken.stored[i] = 0xFF;
  HANDLE held = CreateFileW(lp(app(L"Занят.txt")).c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  RunOutcome outcome = apply({compressed_entry(cp("Занят.txt"), "new"), broken,
                              compressed_entry(cp("Целый.txt"), "whole")});
  CloseHandle(held);

  EXPECT_EQ(outcome.failure, RunFailure::kFilesFailed);
  EXPECT_TRUE(outcome.any_failure);
  EXPECT_TRUE(outcome.wait_for_ok);
  EXPECT_EQ(read_file(app(L"Занят.txt")), "held");
  EXPECT_EQ(read_file(app(L"Битый.txt")), "old") << "the backup is given back";
  EXPECT_FALSE(exists(app(L"Битый.txt.bak")));
  EXPECT_EQ(read_file(app(L"Целый.txt")), "whole") << "later files are still written";
  EXPECT_EQ(installed_level(), -1) << "no level after a failure";
  // The run ends on its last failure, not on the success of the file after it.
  EXPECT_EQ(user_.last_status(), failed_line(app(L"Битый.txt")));
  EXPECT_NE(std::find(user_.statuses.begin(), user_.statuses.end(), updated_line(app(L"Целый.txt"))),
            user_.statuses.end());

  auto failed = user_.events_of(RunEventKind::kFileFailed);
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_EQ(failed[0]->path, app(L"Занят.txt"));
  EXPECT_EQ(failed[0]->error, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(failed[1]->path, app(L"Битый.txt"));
  EXPECT_EQ(failed[1]->error, static_cast<uint32_t>(ERROR_INVALID_DATA));
  auto restored = user_.events_of(RunEventKind::kFileRestored);
  ASSERT_EQ(restored.size(), 1u);
  EXPECT_EQ(restored[0]->path, app(L"Битый.txt"));
}

// In a folder the run has just made, files are written without the backup
// steps; the outcome must be what those steps give wherever an earlier file
// of the same run is in the way.
TEST_F(PhaseTest, FilesInFoldersMadeByTheRunEndAsWithEveryStep) {
  PreparedEntry broken = compressed_entry(cp("Новая\\ФАЙЛ.txt"), std::string(64, 'x'));
  for (size_t i = 2; i < broken.stored.size(); ++i) broken.stored[i] = 0xFF;
  struct Case {
    const char* what;
    std::vector<PreparedEntry> entries;
    std::vector<std::pair<std::wstring, std::string>> files;  // "<missing>" when absent
    size_t failures;
  };
  const Case cases[] = {
      {"a file named as the backup of a later one is removed by that one's success",
       {compressed_entry(cp("Новая\\x.txt.bak"), "first"),
        compressed_entry(cp("Новая\\x.txt"), "second")},
       {{L"Новая\\x.txt", "second"}, {L"Новая\\x.txt.bak", "<missing>"}},
       0},
      {"the same name in another case replaces the earlier file",
       {compressed_entry(cp("Новая\\файл.txt"), "first"),
        compressed_entry(cp("Новая\\ФАЙЛ.TXT"), "second")},
       {{L"Новая\\файл.txt", "second"}, {L"Новая\\файл.txt.bak", "<missing>"}},
       0},
      {"a failed write over an earlier file of the run gives that file back",
       {compressed_entry(cp("Новая\\файл.txt"), "first"), broken},
       {{L"Новая\\файл.txt", "first"}, {L"Новая\\файл.txt.bak", "<missing>"}},
       1},
      {"a failed write of a new file leaves nothing",
       {broken, compressed_entry(cp("Новая\\другой.txt"), "other")},
       {{L"Новая\\ФАЙЛ.txt", "<missing>"}, {L"Новая\\ФАЙЛ.txt.bak", "<missing>"},
        {L"Новая\\другой.txt", "other"}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    use_case(L"app " + std::to_wstring(cases_));
    install();
    RunOutcome outcome = apply(c.entries);
    for (const auto& [relative, content] : c.files) {
      EXPECT_EQ(read_file(app(relative)), content) << narrow_for_trace(relative);
    }
    EXPECT_EQ(user_.events_of(RunEventKind::kFileFailed).size(), c.failures);
    EXPECT_EQ(outcome.any_failure, c.failures != 0);
  }
}

// Entries above the limit for decoding into memory are written through a
// mapping of the file, in their place among the others.
TEST_F(PhaseTest, LargeEntryIsWrittenThroughItsMappingInOrder) {
  install();
  const std::string large((size_t{32} << 20) + 1, 'z');
  PreparedEntry entry;
  std::string error;
  ASSERT_TRUE(prepare_entry(cp("Большой.bin"), reinterpret_cast<const uint8_t*>(large.data()),
                            large.size(), true, 1, &entry, &error))
      << error;
  RunOutcome outcome = apply({compressed_entry(cp("до.txt"), "before"), entry,
                              compressed_entry(cp("после.txt"), "after")});
  EXPECT_EQ(outcome.failure, RunFailure::kNone);
  EXPECT_TRUE(read_file(app(L"Большой.bin")) == large);
  EXPECT_EQ(read_file(app(L"до.txt")), "before");
  EXPECT_EQ(read_file(app(L"после.txt")), "after");
  std::vector<std::wstring> written;
  for (const RecordedEvent* event : user_.events_of(RunEventKind::kFileWritten)) {
    written.push_back(event->path);
  }
  EXPECT_EQ(written, (std::vector<std::wstring>{app(L"до.txt"), app(L"Большой.bin"),
                                                app(L"после.txt")}));
}

TEST_F(PhaseTest, InstallationFolderOutsideTheAnsiCodePage) {
  use_case(L"Ωμέγα 中文 приложение");
  install();
  RunOutcome outcome = apply({compressed_entry(cp("Файл.txt"), "new")});
  EXPECT_EQ(outcome.failure, RunFailure::kNone);
  EXPECT_EQ(read_file(app(L"Файл.txt")), "new");
  EXPECT_EQ(user_.statuses.at(1), updated_line(app(L"Файл.txt")));
  EXPECT_EQ(installed_level(), kPackageLevel);
}

TEST_F(PhaseTest, PathsPastMaxPathAreWrittenUpToTheCapacity) {
  // A folder of over 300 characters (in parts the host's file system takes);
  // targets within 511 are written.
  use_case(std::wstring(120, L'д') + L"\\" + std::wstring(120, L'ж') + L"\\приложение");
  install();
  const std::string name = "Папка\\" + std::string(40, 'f') + ".txt";
  const size_t room = 511 - (app_dir_.size() + 1);  // characters left for a name
  const std::string too_long = std::string(room + 1 - 4, 'g') + ".txt";  // 512 in all
  RunOutcome outcome = apply({
      compressed_entry(kXlatNamesTableName, build_name_table({{substitute_name(1), cp(name)},
                                                              {substitute_name(2), too_long}})),
      compressed_entry(substitute_name(1), "far away"),
      compressed_entry(substitute_name(2), "too far"),
  });
  ASSERT_GT(app(widen(name)).size(), 300u);
  EXPECT_EQ(read_file(app(widen(name))), "far away");
  EXPECT_FALSE(exists(app(widen(too_long))));
  EXPECT_EQ(outcome.failure, RunFailure::kFilesFailed);
  auto failed = user_.events_of(RunEventKind::kFileFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0]->error, static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(user_.last_status(), failed_line(widen(too_long))) << "shown by its relative path";
}

TEST_F(PhaseTest, ExternalCommands) {
  wchar_t system[MAX_PATH];
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::string cmd = cp(std::string(system, system + length) + "\\cmd.exe");  // ASCII path
  struct Row {
    const char* what;
    std::vector<CommandSpec> commands;
    bool fails;
    std::vector<std::wstring> created;      // files the commands leave
    std::vector<std::wstring> not_created;  // files of commands that never ran
  };
  const Row rows[] = {
      {"exit code is reported and does not count", {{true, false, 0, cmd, "/c exit 3"}}, false,
       {}, {}},
      {"Cyrillic arguments reach the program",
       {{true, false, 0, cmd, cp("/c echo x> Отчёт.txt")}}, false, {L"Отчёт.txt"}, {}},
      {"marker left by the program", {{true, false, 0, cmd, "/c echo x> krv_patch_apply_err.txt"}},
       true, {}, {}},
      {"program that does not start ends the list",
       {{true, true, 0, cp("нет такой программы.exe"), ""},
        {true, false, 0, cmd, "/c echo x> second.txt"}},
       true, {}, {L"second.txt"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    use_case(L"команды " + std::to_wstring(cases_ + 1));
    install();
    RunOutcome outcome =
        apply({compressed_entry(kCommandsToExecuteName, build_commands(row.commands))});
    for (const std::wstring& name : row.created) EXPECT_TRUE(exists(app(name))) << name.size();
    for (const std::wstring& name : row.not_created) EXPECT_FALSE(exists(app(name)));
    EXPECT_FALSE(exists(app(L"krv_patch_apply_err.txt"))) << "the marker is removed";
    if (!row.fails) {
      EXPECT_EQ(outcome.failure, RunFailure::kNone);
      EXPECT_TRUE(user_.command_boxes.empty());
      // Each command's marker test is reported, for the run log.
      EXPECT_EQ(user_.events_of(RunEventKind::kMarkerAbsent).size(), row.commands.size());
      EXPECT_TRUE(user_.events_of(RunEventKind::kMarkerFound).empty());
      EXPECT_EQ(installed_level(), kPackageLevel);
      continue;
    }
    EXPECT_EQ(outcome.failure, RunFailure::kCommandsFailed);
    ASSERT_EQ(user_.command_boxes.size(), 1u);
    EXPECT_EQ(user_.command_boxes[0].caption, L"!");
    EXPECT_EQ(user_.command_boxes[0].text, kCommandsFailed);
    EXPECT_EQ(user_.last_status(), kCommandsFailed) << "the window ends on the failure";
    EXPECT_EQ(installed_level(), -1);
  }
}

TEST_F(PhaseTest, CommandEventsCarryExitCodesAndErrors) {
  wchar_t system[MAX_PATH];
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  std::string cmd = cp(std::string(system, system + length) + "\\cmd.exe");
  install();
  apply({compressed_entry(kCommandsToExecuteName,
                          build_commands({{true, false, 0, cmd, "/c exit 3"},
                                          {true, true, 0, cp("нет.exe"), ""}}))});
  auto exited = user_.events_of(RunEventKind::kCommandExited);
  ASSERT_EQ(exited.size(), 1u);
  EXPECT_EQ(exited[0]->value, 3);
  auto not_started = user_.events_of(RunEventKind::kCommandFailedToStart);
  ASSERT_EQ(not_started.size(), 1u);
  EXPECT_EQ(not_started[0]->path, app(L"нет.exe"));
  EXPECT_EQ(not_started[0]->error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(PhaseTest, ListedCyrillicNamesAreRemoved) {
  install();
  ASSERT_TRUE(write_file(app(L"Старый.txt"), "old"));
  make_dirs(app(L"Пустая"));
  make_dirs(app(L"Полная"));
  ASSERT_TRUE(write_file(app(L"Полная\\файл.txt"), "kept"));
  RunOutcome outcome = apply({compressed_entry(
      kFilesToRemoveName, build_string_list({cp("Старый.txt"), cp("Пустая"), cp("Полная"),
                                             cp("Нет такого.txt")}))});
  EXPECT_EQ(outcome.failure, RunFailure::kNone);
  EXPECT_FALSE(exists(app(L"Старый.txt")));
  EXPECT_FALSE(exists(app(L"Пустая")));
  EXPECT_EQ(read_file(app(L"Полная\\файл.txt")), "kept");
  auto removed = user_.events_of(RunEventKind::kRemoved);
  ASSERT_EQ(removed.size(), 2u);
  EXPECT_EQ(removed[0]->path, app(L"Старый.txt"));
  EXPECT_EQ(removed[1]->path, app(L"Пустая"));
  EXPECT_EQ(user_.last_status(), kInstalled);
}

TEST_F(PhaseTest, CompletionRecordsTheLevelOnlyAfterSuccess) {
  Registration registration;
  registration.has_level = true;
  registration.level = 2;
  install(registration);
  RunOutcome outcome = apply({compressed_entry(cp("Файл.txt"), "new")}, 7);
  EXPECT_EQ(outcome.failure, RunFailure::kNone);
  EXPECT_EQ(installed_level(), 7);
  auto written = user_.events_of(RunEventKind::kLevelWritten);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0]->value, 7);
  ASSERT_FALSE(user_.events.empty());
  EXPECT_EQ(user_.events.back().kind, RunEventKind::kOutcome);
  EXPECT_EQ(user_.events.back().value, static_cast<int64_t>(RunFailure::kNone));
}

// The front end makes its window while the package is checked; the run
// waits for it once, before it shows, asks or changes anything, and a run
// whose user can never follow it changes nothing at all.
TEST_F(PhaseTest, RunWaitsForItsUserBeforeTheFirstStep) {
  for (bool present : {true, false}) {
    SCOPED_TRACE(present ? "window made" : "no window");
    use_case(present ? L"с окном" : L"без окна");
    Registration registration;
    registration.has_level = true;
    registration.level = 2;
    install(registration);
    user_.present = present;
    user_.answers = {true};
    RunOutcome outcome = apply(
        {compressed_entry(kStartupMsgName, build_startup_message(cp("Обновление"), cp("Далее?"))),
         compressed_entry(cp("Папка\\Файл.txt"), "new")},
        7);
    ASSERT_EQ(user_.presence_waits.size(), 1u);
    EXPECT_EQ(user_.presence_waits[0].statuses, 0u);
    EXPECT_EQ(user_.presence_waits[0].questions, 0u);
    EXPECT_EQ(user_.presence_waits[0].events, 0u);
    EXPECT_EQ(outcome.failure, RunFailure::kNone);
    EXPECT_EQ(exists(app(L"Папка\\Файл.txt")), present);
    EXPECT_EQ(installed_level(), present ? 7 : 2);
    EXPECT_EQ(user_.asked.size(), present ? 1u : 0u);
    EXPECT_EQ(user_.statuses.empty(), !present);
  }
}

TEST_F(PhaseTest, RefusedPackagesAndCommandLines) {
  struct Row {
    const char* what;
    std::wstring command_line;
    RunFailure failure;
  };
  std::wstring missing = work_ + L"\\нет пакета.krv";
  std::wstring empty = work_ + L"\\пустой.krv";
  ASSERT_TRUE(write_file(empty, ""));
  const Row rows[] = {
      {"empty command line", L"", RunFailure::kBadCommandLine},
      {"five arguments without the keyword", L"P a b c d", RunFailure::kBadCommandLine},
      {"package missing", L"PATCH.EXE \"" + missing + L"\"", RunFailure::kPackageRefused},
      {"empty package", L"PATCH.EXE \"" + empty + L"\"", RunFailure::kPackageRefused},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeUser user;
    RunOutcome outcome = run_update(row.command_line, user);
    EXPECT_EQ(outcome.failure, row.failure);
    EXPECT_TRUE(outcome.wait_for_ok);
    EXPECT_EQ(user.statuses, std::vector<std::wstring>{kUsage});
  }
}

TEST_F(PhaseTest, ImageIsBuiltUnderCyrillicNames) {
  std::wstring program = work_ + L"\\программа.exe";
  std::wstring package = work_ + L"\\пакет.krv";
  std::wstring image = work_ + L"\\образ.exe";
  ASSERT_TRUE(write_file(program, "MZ program"));
  ASSERT_TRUE(write_file(package, "package bytes"));
  FakeUser user;
  RunOutcome outcome = run_update(
      L"\"" + program + L"\" \"" + package + L"\" \"" + image + L"\" MAKEEXE", user);
  EXPECT_FALSE(outcome.wait_for_ok);
  EXPECT_TRUE(user.statuses.empty());
  std::string content = read_file(image);
  ASSERT_NE(content, "<missing>");
  EXPECT_EQ(content.substr(0, 23), "MZ programpackage bytes");
}

}  // namespace
