// Locks between handles of one file, as between programs: shared beside
// shared, exclusive alone; a refused lock waits for nothing and keeps what
// the handle held; a name replaced while a handle was on its way to its
// lock is opened again.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/os.h"
#include "platform/osfile.h"
#include "platform/osfs.h"

namespace {

class LockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = ::testing::TempDir() + "locks_" + std::to_string(osProcessId()) + ".db";
    put(path, "old content");
  }
  void TearDown() override {
    std::remove(path.c_str());
    std::remove((path + ".new").c_str());
    std::remove((path + ".bak").c_str());
  }
  static void put(const std::string& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
  std::string path;
};

TEST_F(LockTest, SharedBesideSharedExclusiveAlone) {
  OsFile* a = osFileOpenLocked(path.c_str(), OsFileMode::kUpdate, OsLock::kShared);
  OsFile* b = osFileOpenLocked(path.c_str(), OsFileMode::kRead, OsLock::kShared);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  errno = 0;
  EXPECT_FALSE(osFileLock(a, OsLock::kExclusive));
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(osFileLockHeld(a), OsLock::kShared);
  // The refused handle still holds its shared lock: nobody gets exclusive.
  EXPECT_FALSE(osFileLock(b, OsLock::kExclusive));
  osFileClose(b);
  EXPECT_TRUE(osFileLock(a, OsLock::kExclusive));
  errno = 0;
  EXPECT_EQ(osFileOpenLocked(path.c_str(), OsFileMode::kRead, OsLock::kShared), nullptr);
  EXPECT_EQ(errno, EAGAIN);
  // Locks lie far past the data: reading and writing are not kept out.
  OsFile* c = osFileOpen(path.c_str(), OsFileMode::kRead);
  char buf[3] = {};
  EXPECT_EQ(osFileRead(c, buf, 3, 0), 3u);
  EXPECT_EQ(std::string(buf, 3), "old");
  osFileClose(c);
  EXPECT_TRUE(osFileLock(a, OsLock::kShared));
  OsFile* d = osFileOpenLocked(path.c_str(), OsFileMode::kRead, OsLock::kShared);
  EXPECT_NE(d, nullptr);
  osFileClose(d);
  osFileClose(a);
  OsFile* e = osFileOpenLocked(path.c_str(), OsFileMode::kUpdate, OsLock::kExclusive);
  EXPECT_NE(e, nullptr);
  osFileClose(e);
}

// A handle on a file that another program has since replaced by name is no
// longer on the journal: the name is opened again.
TEST_F(LockTest, ReplacedNameIsOpenedAgain) {
  OsFile* old = osFileOpen(path.c_str(), OsFileMode::kUpdateReplaceable);
  ASSERT_NE(old, nullptr);
  EXPECT_TRUE(osFileIsAt(old, path.c_str()));
  put(path + ".new", "new content");
  ASSERT_TRUE(osReplaceKeepingBackup((path + ".new").c_str(), path.c_str(), (path + ".bak").c_str()));
  EXPECT_FALSE(osFileIsAt(old, path.c_str()));
  OsFile* now = osFileOpenLocked(path.c_str(), OsFileMode::kRead, OsLock::kShared);
  ASSERT_NE(now, nullptr);
  char buf[3] = {};
  EXPECT_EQ(osFileRead(now, buf, 3, 0), 3u);
  EXPECT_EQ(std::string(buf, 3), "new");
  osFileClose(now);
  osFileClose(old);
  // The backup holds the old file, and a backup is never replaced.
  put(path + ".new", "newer");
  errno = 0;
  EXPECT_FALSE(osReplaceKeepingBackup((path + ".new").c_str(), path.c_str(), (path + ".bak").c_str()));
  EXPECT_EQ(errno, EEXIST);
  std::ifstream in(path + ".bak", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "old content");
}

TEST_F(LockTest, FolderOfAPath) {
  std::string sep(1, osPathSeparator());
  EXPECT_EQ(osFolderOf(("a" + sep + "b" + sep + "c.db").c_str()), "a" + sep + "b");
  EXPECT_EQ(osFolderOf("c.db"), ".");
  EXPECT_EQ(osFolderOf((sep + "c.db").c_str()), sep);
  EXPECT_TRUE(osSyncFolderOf(path.c_str()));
}

}  // namespace
