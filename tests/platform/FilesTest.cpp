#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "platform/posix/WriteAll.h"
#include "support/TempHome.h"

#if defined(QUILLORY_WRAPPED_FSYNC)
// This binary is linked with fsync and rename wrapped: while `recording` (set
// by a test on its own thread), each call is noted as "fsync <inode>" or
// "rename <inode of what is renamed>".
namespace {
std::atomic<bool> recording{false};
std::vector<std::string> calls;

std::string inode(const struct stat& info) { return std::to_string(info.st_ino); }
}  // namespace

extern "C" int __real_fsync(int fd);
extern "C" int __real_rename(const char* from, const char* to);

extern "C" int __wrap_fsync(int fd) {
  struct stat info {};
  if (recording && ::fstat(fd, &info) == 0) calls.push_back("fsync " + inode(info));
  return __real_fsync(fd);
}

extern "C" int __wrap_rename(const char* from, const char* to) {
  struct stat info {};
  if (recording && ::lstat(from, &info) == 0) calls.push_back("rename " + inode(info));
  return __real_rename(from, to);
}
#endif

namespace quillory::platform::files {
namespace {

using testing::TempHome;

std::set<std::string> namesIn(const fs::path& folder) {
  auto names = listFolder(folder);
  return names ? std::set<std::string>(names->begin(), names->end()) : std::set<std::string>{};
}

TEST(FilesTest, FailedAtomicWriteLeavesTargetAndFolderAsTheyWere) {
  TempHome home;
  // The target's folder is a regular file.
  EXPECT_TRUE(atomicWrite(home.writeFile("blocker", "keep") / "doc.json", "x"));
  EXPECT_EQ(readFile(home / "blocker"), "keep");
  // The target's folder is missing.
  EXPECT_TRUE(atomicWrite(home / "missing" / "doc.json", "x"));
  // (A target that is a folder, and no temporary file left: the faults' tests.)
  EXPECT_EQ(namesIn(home.path()), std::set<std::string>{"blocker"});
}

#if defined(QUILLORY_WRAPPED_FSYNC)
// The data reaches the disk before the new name does, and the rename itself
// is made durable after it.
TEST(FilesTest, AtomicWriteFlushesTheFileThenRenamesItThenFlushesTheFolder) {
  TempHome home;
  recording = true;
  ASSERT_FALSE(atomicWrite(home / "doc.json", "x"));
  recording = false;
  struct stat file = {}, folder = {};
  ::stat((home / "doc.json").c_str(), &file);
  ::stat(home.path().c_str(), &folder);
  EXPECT_EQ(calls, (std::vector<std::string>{"fsync " + inode(file), "rename " + inode(file),
                                             "fsync " + inode(folder)}));
}
#endif

// Every name the file system takes can be written: the temporary file's name
// does not grow with the target's.
TEST(FilesTest, AtomicWriteTakesTheLongestNames) {
  TempHome home;
  std::string accented;
  while (accented.size() < 254) accented += "\xC3\xA9";  // 254 bytes of "é"
  for (const std::string& name : {std::string(255, 'n'), accented}) {
    EXPECT_FALSE(atomicWrite(home / name, name)) << name.size();
    EXPECT_EQ(readFile(home / name), name);
  }
}

// Temporary files left by a writer that no longer exists here go at the next
// write into their folder once they are older than ten minutes (a young one
// may be another Mac's write in progress); nothing else does.
TEST(FilesTest, AtomicWriteRemovesOnlyStaleTemporaryFiles) {
  TempHome home;
  // No process has that id: ids stay below 2^22.
  const std::string dead = ".qh-999999999-";
  const std::string alive = ".qh-" + std::to_string(::getppid()) + "-";
  home.makeFolder(dead + "dirDir.tmp");
  fs::create_symlink(home / "doc.json", home / (dead + "linkLn.tmp"));
  for (const std::string& name : {dead + "young9.tmp", dead + "aB3xYz.tmp", alive + "aB3xYz.tmp",
                                  dead + "aB3xY.tmp", dead + "aB3xYz.tmp.bak", dead + "aB3x\xC3\xA9.tmp"})
    home.writeFile(name, "keep");
  // All but the young one dated 11 minutes ago.
  const timespec old[2] = {{::time(nullptr) - 11 * 60, 0}, {::time(nullptr) - 11 * 60, 0}};
  std::set<std::string> kept = namesIn(home.path());
  for (const std::string& name : kept)
    if (name != dead + "young9.tmp") ::utimensat(AT_FDCWD, (home / name).c_str(), old, AT_SYMLINK_NOFOLLOW);
  ASSERT_FALSE(atomicWrite(home / "doc.json", "x"));
  kept.erase(dead + "aB3xYz.tmp");
  kept.insert("doc.json");
  EXPECT_EQ(namesIn(home.path()), kept);
}

// Pieces written through a pipe that fills (non-blocking, so writes stop
// part-way through a piece and wait) arrive whole and in order.
TEST(FilesTest, WriteAllGathersPiecesThroughPartialWrites) {
  std::vector<std::string> texts;
  std::string joined;
  for (int i = 0; i < 150; ++i)
    joined += texts.emplace_back(static_cast<std::size_t>(i * 37 % 5000), 'a' + i % 26);
  const std::vector<std::string_view> pieces(texts.begin(), texts.end());
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
  std::string received;
  std::thread reader([&] {
    char buffer[1000];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
      received.append(buffer, static_cast<std::size_t>(got));
  });
  EXPECT_FALSE(posix::writeAll(ends[1], pieces));
  ::close(ends[1]);
  reader.join();
  ::close(ends[0]);
  EXPECT_EQ(received, joined);
}

// (That a folder is neither removed nor missed: the command-line end-to-end
// runs and the libraries' tests.)
TEST(FilesTest, ReadRemoveAndExistsOnLinksAndFifos) {
  TempHome home;
  home.writeFile("f", "data");
  fs::create_symlink(home / "nowhere", home / "dangling");
  fs::create_symlink(home / "f", home / "link");
  ASSERT_EQ(::mkfifo((home / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(readFile(home / "fifo"), std::nullopt);  // no writer: would block forever
  EXPECT_FALSE(files::exists(home / "dangling"));
  EXPECT_FALSE(removeFile(home / "link"));  // the link goes, not its target
  EXPECT_TRUE(files::exists(home / "f"));
}

// The walk finds the named entries at any depth, never inside hidden
// folders, packages or linked folders.
TEST(FilesTest, EnumerateDeepSkipsHiddenEntriesPackageInsidesAndLinks) {
  TempHome home;
  std::string deep = "root";
  for (int i = 0; i < 200; ++i) deep += "/d";
  for (const std::string& folder : std::vector<std::string>{
           "root", "root/sub/deeper", "root/.git", "root/sub/.cache", "root/Tool.app/Contents",
           "root/Notes.RTFD", "root/en.lproj", "outside", deep})
    home.writeFile(folder + "/x.plist", "x");
  fs::create_symlink(home / "outside", home / "root" / "linked");

  std::set<std::string> seen;
  ASSERT_TRUE(enumerateDeep(
      home / "root" / "", [&](const fs::path& p) { seen.insert(p.lexically_relative(home.path()).string()); },
      "x.plist"));
  EXPECT_EQ(seen, (std::set<std::string>{"root/x.plist", "root/sub/deeper/x.plist", "root/en.lproj/x.plist",
                                         deep + "/x.plist"}));
  EXPECT_FALSE(enumerateDeep(home / "root" / "x.plist", [](const fs::path&) {}));
}

}  // namespace
}  // namespace quillory::platform::files
