// The name of the installation lock: one valid object name per key.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "installation_lock.h"

namespace {

TEST(InstallationLockName, OneValidNamePerKey) {
  const std::u16string keys[] = {u"",
                                 u"software\\korvinda\\atlas",
                                 u"software\\korvinda\\atlas2",
                                 u"software\\korvinda\\atla",
                                 u"software\\korvinda\\\u0430\u0442\u043b\u0430\u0441",
                                 std::u16string(5000, u'k')};
  std::set<std::u16string> names;
  for (const std::u16string& key : keys) {
    std::u16string name = installation_lock_name(key);
    EXPECT_EQ(name, installation_lock_name(key)) << "the same key, the same name";
    // One namespace separator and nothing else that a kernel object name
    // may not hold; short whatever the key's length.
    ASSERT_EQ(name.rfind(u"Global\\", 0), 0u);
    EXPECT_EQ(name.find(u'\\', 7), std::u16string::npos);
    EXPECT_LE(name.size(), 64u);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), std::size(keys)) << "different keys, different locks";
}

}  // namespace
