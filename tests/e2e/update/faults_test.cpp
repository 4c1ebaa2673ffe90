// Faults and hostile packages: two runs at once, a full disk, a package cut
// short while it is read, names that lead out of the installation, and
// read-only files. Each compares the installation (and what lies around it)
// before and after the run.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "update_fixture.h"

namespace {

namespace fs = std::filesystem;

// Every file below a folder with its content, by path relative to it.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::string relative = fs::relative(it->path(), root).string();
    if (it->is_directory()) {
      files[relative + "/"] = "";
    } else {
      std::string bytes;
      e2e::read_file(it->path().string(), &bytes);
      files[relative] = bytes;
    }
  }
  return files;
}

std::vector<std::string> backups_in(const std::map<std::string, std::string>& files) {
  std::vector<std::string> found;
  for (const auto& file : files) {
    if (file.first.size() > 4 && file.first.compare(file.first.size() - 4, 4, ".bak") == 0) {
      found.push_back(file.first);
    }
  }
  return found;
}

class FaultsTest : public UpdateTest {
 protected:
  // Registers the installation with one short run that changes nothing (a
  // wrong keyword), so that runs started together find it already there.
  void register_before_runs() {
    e2e::Scenario s = e2e::patch_scenario({"a", "b", "c"});
    register_installation(&s);
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
  }

  static std::string usage() { return "Usage: PATCH.EXE resource_nm [output_nm MAKEEXE]"; }
};

// ---- two runs at once ----------------------------------------------------

TEST_F(FaultsTest, TwoRunsStartedTogetherEndInTheNewTreeWithNoFileLost) {
  constexpr int kFiles = 300;
  constexpr int kTrials = 5;
  // Each run ends with two programs: one logs "start" at once, the next
  // logs "end" after a pause. Runs that overlap interleave the lines.
  std::vector<PreparedEntry> entries = {
      registry_keys(7),
      compressed_entry(kCommandsToExecuteName,
                       build_commands({{true, true, 0, "tool.exe", "start log=order.log"},
                                       {true, true, 0, "tool.exe", "end sleep=1500 log=order.log"}}))};
  std::string tool;
  ASSERT_TRUE(e2e::read_file(e2e::fake_tool_exe(), &tool));
  ASSERT_TRUE(e2e::write_file(app("tool.exe"), tool));
  std::map<std::string, std::string> new_tree = {{kProgram, "the application"},
                                                 {"tool.exe", tool}};
  for (int i = 0; i < kFiles; ++i) {
    std::string name = "f" + std::to_string(i) + ".txt";
    std::string content = "new " + std::to_string(i) + std::string(i * 7, 'n');
    entries.push_back(i % 2 ? plain_entry(name, content) : compressed_entry(name, content));
    new_tree[name] = content;
  }
  std::string package = work_path("update.krv");
  ASSERT_TRUE(e2e::write_file(package, package_of(entries)));
  ASSERT_NO_FATAL_FAILURE(register_before_runs());

  for (int trial = 0; trial < kTrials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    for (int i = 0; i < kFiles; ++i) {
      std::string name = "f" + std::to_string(i) + ".txt";
      ASSERT_TRUE(e2e::write_file(app(name), "old " + std::to_string(i)));
    }
    // A run that meets the level an earlier one recorded asks whether to go
    // on, and is told to.
    e2e::Scenario first = e2e::patch_scenario({e2e::quoted(e2e::wine_path(package))});
    first.answers = {"ok"};
    // The second run shows nothing while it waits for all of the first, which
    // on a machine kept busy (the soak runs two test binaries beside
    // stress-ng) took over two minutes for 300 files: a deadline, not a timing.
    first.timeout_ms = 600000;
    e2e::Scenario second = first;

    e2e::RunResult results[2];
    std::thread other([&] { results[1] = e2e::run_patch(second); });
    results[0] = e2e::run_patch(first);
    other.join();

    for (const e2e::RunResult& r : results) {
      ASSERT_TRUE(r.ok) << r.error;
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
      EXPECT_EQ(r.final_state.status, text(kInstalled)) << e2e::describe(r);
    }
    std::map<std::string, std::string> after = snapshot(app_dir_);
    std::string order = after["order.log"];
    std::vector<std::string> steps;
    for (size_t at = order.find("DUMMY "); at != std::string::npos;
         at = order.find("DUMMY ", at + 1)) {
      steps.push_back(order.substr(at + 6, order.find(' ', at + 6) - at - 6));
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"start", "end", "start", "end"})) << order;
    after.erase("order.log");
    after.erase("fake_tool_calls.log");
    remove(app("order.log").c_str());
    remove(app("fake_tool_calls.log").c_str());
    EXPECT_EQ(after, new_tree);
    ASSERT_FALSE(HasFailure());
  }
}

// ---- a full disk ---------------------------------------------------------

// A small tmpfs mounted over a folder for the length of one test.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& folder) : folder_(folder) {
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=2m,mode=0755") == 0) {
      mounted_ = true;
    } else {
      why_ = std::string("cannot mount a 2 MB tmpfs on ") + folder + ": " + strerror(errno) +
             " (the test needs root)";
    }
  }
  ~SmallDisk() {
    if (mounted_ && umount(folder_.c_str()) != 0) umount2(folder_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  std::string folder_;
  bool mounted_ = false;
  std::string why_;
};

TEST_F(FaultsTest, FullDiskGivesFailureLinesAndKeepsEveryOldFile) {
  SmallDisk disk(app_dir_);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  ASSERT_TRUE(e2e::write_file(app(kProgram), std::string("the application")));
  const std::string old_big(300000, 'o');
  ASSERT_TRUE(e2e::write_file(app("small.txt"), std::string("old small")));
  ASSERT_TRUE(e2e::write_file(app("after.txt"), std::string("old after")));
  ASSERT_TRUE(e2e::write_file(app("big.bin"), old_big));
  const std::string three_mb(3 << 20, 'N');

  e2e::Scenario s = apply(package_of({
      registry_keys(3),
      compressed_entry("small.txt", "new small"),
      compressed_entry("fresh_big.bin", three_mb),  // no file before
      compressed_entry("after.txt", "new after"),
      plain_entry("stored_big.bin", three_mb),  // copied rather than inflated
      compressed_entry("big.bin", three_mb),
  }));
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
  EXPECT_EQ(r.final_state.status, failed_line(install_dir() + "big.bin"));
  EXPECT_FALSE(r.reads[0].found) << "the level stays unwritten";

  // Files that fit are written; those that do not leave what was there.
  std::map<std::string, std::string> expected = {{kProgram, "the application"},
                                                 {"small.txt", "new small"},
                                                 {"after.txt", "new after"},
                                                 {"big.bin", old_big}};
  EXPECT_EQ(snapshot(app_dir_), expected);
}

// ---- a package cut short -------------------------------------------------

TEST_F(FaultsTest, PackageTruncatedWhileReadFailsTheRestWithoutACrash) {
  // Large enough that the run is still reading when the package is cut.
  constexpr int kEntries = 80;
  constexpr size_t kEntrySize = 1 << 20;
  std::mt19937 random(18);
  std::vector<PreparedEntry> entries = {registry_keys(5)};
  std::map<std::string, std::string> contents;
  for (int i = 0; i < kEntries; ++i) {
    std::string name = "part" + std::to_string(i) + ".bin";
    std::string content(kEntrySize, '\0');
    for (char& c : content) c = static_cast<char>(random() & (i % 2 ? 0xFF : 0x0F));
    entries.push_back(i % 2 ? plain_entry(name, content) : compressed_entry(name, content));
    contents[name] = content;
  }
  // A list read after the files, from beyond the cut.
  entries.push_back(compressed_entry(kFilesToRemoveName, build_string_list({"obsolete.txt"})));
  const std::vector<std::string> with_old = {"part" + std::to_string(kEntries - 2) + ".bin",
                                             "part" + std::to_string(kEntries - 1) + ".bin"};
  for (const std::string& name : with_old) {
    ASSERT_TRUE(e2e::write_file(app(name), "old " + name));
  }
  ASSERT_TRUE(e2e::write_file(app("obsolete.txt"), std::string("obsolete")));

  std::vector<uint8_t> bytes = package_of(entries);
  e2e::Scenario s = apply(bytes);
  std::string package = work_path("update.krv");
  e2e::RunResult r;
  std::thread run([&] { r = e2e::run_patch(s); });
  // Cut the package to a tenth as soon as the first file appears.
  bool cut = false;
  for (int waited = 0; waited < 60000 && !cut; ++waited) {
    if (e2e::file_exists(app("part0.bin"))) {
      cut = truncate(package.c_str(), static_cast<off_t>(bytes.size() / 10)) == 0;
    }
    usleep(1000);
  }
  run.join();
  ASSERT_TRUE(cut) << "the run never wrote its first file";
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
  // The last entry lies far beyond the cut.
  EXPECT_EQ(r.final_state.status, failed_line(install_dir() + with_old.back()))
      << e2e::describe(r);
  EXPECT_FALSE(r.reads[0].found);

  // Each file is whole and new, or as it was before the run.
  std::map<std::string, std::string> after = snapshot(app_dir_);
  EXPECT_TRUE(backups_in(after).empty());
  for (const auto& entry : contents) {
    auto found = after.find(entry.first);
    if (found == after.end()) continue;  // a new file that failed
    bool was_there = std::find(with_old.begin(), with_old.end(), entry.first) != with_old.end();
    bool whole = found->second == entry.second;
    bool as_before = was_there && found->second == "old " + entry.first;
    EXPECT_TRUE(whole || as_before) << entry.first;
  }
  for (const std::string& name : with_old) EXPECT_EQ(after[name], "old " + name);
  EXPECT_EQ(after[kProgram], "the application");
}

// ---- names that leave the installation -----------------------------------

TEST_F(FaultsTest, PackagesNamingPlacesOutsideAreRefusedBeforeAnythingHappens) {
  const std::string outside = e2e::wine_path(work_dir_);
  const std::string sub = substitute_name(1);
  struct Case {
    const char* what;
    std::vector<PreparedEntry> entries;
  };
  std::vector<Case> cases = {
      {"entry", {compressed_entry("..\\evil.txt", "evil")}},
      {"translated entry",
       {compressed_entry(sub, "evil"),
        compressed_entry(kXlatNamesTableName, build_name_table({{sub, "sub\\..\\..\\evil2.txt"}}))}},
      {"absolute entry", {compressed_entry("evil", "evil"),
                          compressed_entry(kXlatNamesTableName,
                                           build_name_table({{"evil", outside + "\\abs.txt"}}))}},
      {"extended-length entry",
       {compressed_entry("evil", "evil"),
        compressed_entry(kXlatNamesTableName,
                         build_name_table({{"evil", "\\\\?\\" + outside + "\\unc.txt"}}))}},
      {"stream", {compressed_entry("inside.txt:evil", "evil")}},
      {"device", {compressed_entry("CON", "evil")}},
      {"device with extension", {compressed_entry("sub\\nul.txt", "evil")}},
      {"folder", {compressed_entry(kFoldersName, build_string_list({"ok", "..\\evil_folder"}))}},
      {"removal", {compressed_entry(kFilesToRemoveName, build_string_list({"..\\victim.txt"}))}},
      {"command",
       {compressed_entry(kCommandsToExecuteName,
                         build_commands({{true, true, 0, "..\\tool.exe", "touch=ran.txt"}}))}},
  };
  ASSERT_TRUE(e2e::write_file(work_path("victim.txt"), std::string("victim")));
  ASSERT_TRUE(e2e::write_file(app("inside.txt"), std::string("inside")));
  std::string tool_bytes;
  ASSERT_TRUE(e2e::read_file(e2e::fake_tool_exe(), &tool_bytes));
  ASSERT_TRUE(e2e::write_file(work_path("tool.exe"), tool_bytes));

  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PreparedEntry> entries = {
        registry_keys(9),
        compressed_entry(kStartupMsgName, build_startup_message("Caption", "Go on?")),
        compressed_entry("inside.txt", "overwritten")};
    for (PreparedEntry& e : c.entries) entries.push_back(std::move(e));
    std::vector<uint8_t> package = package_of(entries);
    std::string package_path = work_path("update.krv");
    ASSERT_TRUE(e2e::write_file(package_path, package));
    std::map<std::string, std::string> before = snapshot(work_dir_);

    e2e::Scenario s = e2e::patch_scenario({e2e::quoted(e2e::wine_path(package_path))});
    register_installation(&s);
    e2e::reg_read(&s, key_, "PatchLevel");
    s.answers = {"ok"};
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
    EXPECT_EQ(r.final_state.status, usage()) << e2e::describe(r);
    EXPECT_TRUE(r.boxes.empty()) << "refused before the startup message";
    EXPECT_FALSE(r.reads[0].found);
    EXPECT_EQ(snapshot(work_dir_), before) << "nothing written inside or outside";
  }
}

TEST_F(FaultsTest, LeadingBackslashStaysInsideTheInstallation) {
  e2e::Scenario s = apply(package_of(
      {registry_keys(2), compressed_entry("\\lead\\file.txt", "lead"),
       compressed_entry(kFilesToRemoveName, build_string_list({"\\gone.txt"}))}));
  ASSERT_TRUE(e2e::write_file(app("gone.txt"), std::string("gone")));
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.final_state.status, text(kInstalled)) << e2e::describe(r);
  EXPECT_EQ(content("lead/file.txt"), "lead");
  EXPECT_FALSE(exists("gone.txt"));
}

// ---- read-only files -----------------------------------------------------

TEST_F(FaultsTest, ReadOnlyFilesAreReplacedAndLeaveNoBackup) {
  struct Case {
    const char* what;
    bool target_read_only;
    bool stale_backup;  // a read-only ".bak" from an earlier run
    bool damaged;       // the entry fails, so the old file comes back
    std::string expected;
  } cases[] = {
      {"read-only target", true, false, false, "new"},
      {"read-only backup left by an earlier run", false, true, false, "new"},
      {"both read-only", true, true, false, "new"},
      {"read-only target restored after a failure", true, false, true, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"ro.txt", "ro.txt.bak"}) {
      chmod(app(name).c_str(), 0644);
      remove(app(name).c_str());
    }
    ASSERT_TRUE(e2e::write_file(app("ro.txt"), std::string("old")));
    if (c.target_read_only) ASSERT_EQ(chmod(app("ro.txt").c_str(), 0444), 0);
    if (c.stale_backup) {
      ASSERT_TRUE(e2e::write_file(app("ro.txt.bak"), std::string("stale")));
      ASSERT_EQ(chmod(app("ro.txt.bak").c_str(), 0444), 0);
    }
    // Spoiled before the checksum section is made, so that the package
    // passes the check at the start and the entry fails only as it is written.
    PreparedEntry entry = compressed_entry("ro.txt", "new");
    if (c.damaged) entry.stored.back() ^= 0xFF;
    PackageLayout layout;
    layout.checksums = true;
    e2e::RunResult r = e2e::run_patch(apply(package_of({registry_keys(1), entry}, layout)));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    const std::string target = install_dir() + "ro.txt";
    EXPECT_EQ(r.final_state.status, c.damaged ? failed_line(target) : text(kInstalled))
        << e2e::describe(r);
    EXPECT_FALSE(exists("ro.txt.bak"));
    EXPECT_EQ(content("ro.txt"), c.expected);
    struct stat info = {};
    ASSERT_EQ(stat(app("ro.txt").c_str(), &info), 0);
    // A new file gets the attributes of any new file; a restored one keeps its own.
    EXPECT_EQ((info.st_mode & S_IWUSR) != 0, !c.damaged) << std::oct << info.st_mode;
  }
}

}  // namespace
