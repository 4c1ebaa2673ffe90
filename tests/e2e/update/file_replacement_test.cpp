// Writing the package's files into the installation: every kind of entry,
// translated names, folders, the ".bak" backup and its restore.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "update_fixture.h"

namespace {

class FileReplacementTest : public UpdateTest {
 protected:
  // Packages carry the checksum section, as the publishers' tool writes
  // them, so that an entry spoiled by its writer still passes the check
  // before the first write and fails only when it is written.
  e2e::RunResult run(const std::vector<PreparedEntry>& entries) {
    PackageLayout layout;
    layout.checksums = true;
    e2e::Scenario s = apply(package_of(entries, layout));
    s.expected_end = e2e::End::kWaitsForOk;
    e2e::RunResult r = e2e::run_patch(s);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
    return r;
  }

  // The same entry with its zlib checksum spoiled before the package is
  // written: it inflates to its full size but fails at the end.
  static PreparedEntry damaged(const std::string& name, const std::string& content) {
    PreparedEntry entry = compressed_entry(name, content);
    entry.stored.back() ^= 0xFF;
    return entry;
  }
};

TEST_F(FileReplacementTest, WritesFilesOfEveryKind) {
  ASSERT_TRUE(e2e::write_file(app("readme.txt"), std::string(5000, 'o')));
  const std::string long_path = "documents\\руководство пользователя\\глава первая.txt";
  const std::string binary("\x00\x01\xff\x80payload\x00", 12);
  std::vector<PreparedEntry> entries = {
      registry_keys(2),
      compressed_entry("readme.txt", "short now"),
      plain_entry("stored.bin", binary),
      compressed_entry("empty.dat", ""),
      plain_entry("empty_plain.dat", ""),
      compressed_entry("data\\maps\\north.dat", std::string(100000, 'n')),
      compressed_entry("tmp0000000000000001", "translated"),
      compressed_entry(kXlatNamesTableName,
                       build_name_table({{"TMP0000000000000001", text(long_path.c_str())}})),
      compressed_entry(kFoldersName, build_string_list({"documents", text("documents\\руководство пользователя")})),
      compressed_entry(":Unknown", "never written"),
  };
  e2e::RunResult r = run(entries);
  EXPECT_EQ(content("readme.txt"), "short now");
  EXPECT_EQ(content("stored.bin"), binary);
  EXPECT_EQ(content("empty.dat"), "");
  EXPECT_EQ(content("empty_plain.dat"), "");
  EXPECT_EQ(content("data/maps/north.dat"), std::string(100000, 'n'));
  EXPECT_EQ(content("documents/руководство пользователя/глава первая.txt"), "translated");
  EXPECT_FALSE(exists("tmp0000000000000001"));
  EXPECT_FALSE(exists(":Unknown"));
  for (const char* name : {"readme.txt.bak", "stored.bin.bak", "empty.dat.bak"}) {
    EXPECT_FALSE(exists(name)) << name;
  }
  EXPECT_EQ(r.final_state.status, text(kInstalled));
  ASSERT_TRUE(r.reads[0].found);
  EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(2));
}

TEST_F(FileReplacementTest, StatusLineNamesTheRelativePathThenTheTarget) {
  // The status line keeps the last file's result when nothing else follows
  // it; an unwritable file sets the failure flag, so no success text comes.
  ASSERT_EQ(mkdir(app("blocker").c_str(), 0755), 0);
  ASSERT_TRUE(e2e::write_file(app("blocker/inside.txt"), std::string("keep")));
  e2e::RunResult r = run({registry_keys(1), compressed_entry("blocker\\inside.txt\\x", "x"),
                          compressed_entry("sub\\last.txt", "last")});
  EXPECT_EQ(r.final_state.status, updated_line(install_dir() + "sub\\last.txt"));
  EXPECT_EQ(content("sub/last.txt"), "last");
  EXPECT_FALSE(r.reads[0].found) << "a failed file keeps the level unwritten";
}

TEST_F(FileReplacementTest, BackupIsRemovedAfterSuccessAndRestoredAfterFailure) {
  struct Case {
    const char* name;
    bool present;       // a file stands at the target
    bool stale_backup;  // a ".bak" from an earlier run
    bool damaged;       // the entry's stream fails its checksum
    std::string expected;
  } cases[] = {
      {"present file replaced", true, false, false, "new content"},
      {"no file before", false, false, false, "new content"},
      {"stale backup removed on success", true, true, false, "new content"},
      {"present file restored after a failed write", true, false, true, "former content"},
      {"nothing left after a failed write of a new file", false, false, true, "<missing>"},
      {"the stale backup is what a failure moves back", true, true, true, "stale backup"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    remove(app("file.txt").c_str());
    remove(app("file.txt.bak").c_str());
    if (c.present) ASSERT_TRUE(e2e::write_file(app("file.txt"), std::string("former content")));
    if (c.stale_backup) ASSERT_TRUE(e2e::write_file(app("file.txt.bak"), std::string("stale backup")));
    PreparedEntry entry = c.damaged ? damaged("file.txt", "new content")
                                    : compressed_entry("file.txt", "new content");
    e2e::RunResult r = run({registry_keys(1), entry});
    EXPECT_EQ(content("file.txt"), c.expected);
    EXPECT_FALSE(exists("file.txt.bak"));
    const std::string target = install_dir() + "file.txt";
    EXPECT_EQ(r.final_state.status, c.damaged ? failed_line(target) : text(kInstalled));
    EXPECT_EQ(r.reads[0].found, !c.damaged);
  }
}

TEST_F(FileReplacementTest, FilesThatCannotBeWrittenFailAloneAndKeepTheirContent) {
  ASSERT_TRUE(e2e::write_file(app("not_a_folder"), std::string("plain file")));
  ASSERT_TRUE(e2e::write_file(app("held.txt"), std::string("held content")));
  // A folder in the target's place is moved aside whole under the backup
  // name, where it stays: a backup that is a folder is not removed.
  ASSERT_EQ(mkdir(app("folder_in_place").c_str(), 0755), 0);
  ASSERT_TRUE(e2e::write_file(app("folder_in_place/open.txt"), std::string("open")));
  e2e::Scenario s = apply(package_of({
      registry_keys(4),
      compressed_entry("not_a_folder\\child.txt", "cannot be created"),
      compressed_entry("held.txt", "replacement"),
      compressed_entry("folder_in_place", "a file"),
      compressed_entry("good.txt", "written"),
  }));
  s.hold_files = {app("held.txt")};
  s.expected_end = e2e::End::kWaitsForOk;
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(content("not_a_folder"), "plain file");
  EXPECT_EQ(content("held.txt"), "held content");
  EXPECT_FALSE(exists("held.txt.bak"));
  EXPECT_EQ(content("folder_in_place"), "a file");
  EXPECT_EQ(content("folder_in_place.bak/open.txt"), "open");
  EXPECT_EQ(content("good.txt"), "written");
  EXPECT_EQ(r.final_state.status, updated_line(install_dir() + "good.txt"));
  EXPECT_FALSE(r.reads[0].found);
}

TEST_F(FileReplacementTest, APathTooLongForItsBufferFailsWithoutTouchingAnything) {
  // The translated path alone is longer than a path may be here.
  const std::string long_path = "deep\\" + std::string(600, 'p') + ".txt";
  e2e::RunResult r = run({registry_keys(1), compressed_entry("TMP0000000000000001", "x"),
                          compressed_entry(kXlatNamesTableName,
                                           build_name_table({{"TMP0000000000000001", long_path}}))});
  EXPECT_FALSE(exists("deep"));
  EXPECT_EQ(r.final_state.status, failed_line(long_path));
  EXPECT_FALSE(r.reads[0].found);
}

TEST_F(FileReplacementTest, NameTableRules) {
  // Substitute names match regardless of ASCII case only; the first pair
  // wins; a table cut before its end still serves the pairs before the cut.
  const std::string table =
      build_name_table({{"TMP0000000000000001", "first.txt"},
                        {"TMP0000000000000001", "second.txt"},
                        {text("ИМЯ"), "cyrillic.txt"}});
  e2e::RunResult r = run({registry_keys(1), compressed_entry("tmp0000000000000001", "1"),
                          compressed_entry(text("имя"), "lower-case cyrillic"),
                          compressed_entry(kXlatNamesTableName, table.substr(0, table.size() - 2))});
  EXPECT_EQ(content("first.txt"), "1");
  EXPECT_FALSE(exists("second.txt"));
  EXPECT_FALSE(exists("cyrillic.txt"));
  EXPECT_EQ(content("имя"), "lower-case cyrillic");
}

TEST_F(FileReplacementTest, FoldersAreCreatedInListOrder) {
  // "late\\child" comes before its parent, so only "late" is created; the
  // list is cut before its closing empty string.
  const std::string folders = build_string_list({"tree", "tree\\branch", "late\\child", "late",
                                                 "empty"});
  e2e::RunResult r = run({registry_keys(1), compressed_entry(kFoldersName,
                                                             folders.substr(0, folders.size() - 1)),
                          compressed_entry("\\leading.txt", "lead")});
  EXPECT_TRUE(is_dir("tree/branch"));
  EXPECT_TRUE(is_dir("late"));
  EXPECT_FALSE(exists("late/child"));
  EXPECT_TRUE(is_dir("empty"));
  EXPECT_EQ(content("leading.txt"), "lead");
  EXPECT_EQ(r.final_state.status, text(kInstalled));
}

}  // namespace
