// A full disk: the container's folder on a small tmpfs when one can be
// mounted (root, in a mount namespace of its own when the process may make
// one), and always a file size limit (RLIMIT_FSIZE, with SIGXFSZ ignored so
// that a write past the limit fails with EFBIG instead of ending the
// process). The published pair from before stays whole, no temporary file is
// left, and the next sync after space is back succeeds.

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "faults/FaultFixture.h"
#include "platform/Files.h"

namespace quillory::faults::test {
namespace {

// A tmpfs of 64 KB over `at`, removed on the way out (lazily, so that a file
// still open in it cannot keep it).
struct TmpfsMount {
  explicit TmpfsMount(const fs::path& at) : at(at) {
    // A namespace of its own keeps the mount out of everyone else's view. It
    // cannot be made once the process has threads; then the mount is made
    // where it is and removed again below.
    if (::unshare(CLONE_NEWNS) == 0) ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    mounted = ::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") == 0;
    if (!mounted) error = std::strerror(errno);
  }
  ~TmpfsMount() {
    if (mounted) ::umount2(at.c_str(), MNT_DETACH);
  }
  const fs::path at;
  bool mounted = false;
  std::string error;
};

// A soft file size limit for this process and its children, given back on
// the way out.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) : previousHandler(::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    ok = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previousHandler);
  }
  rlimit saved{};
  const sighandler_t previousHandler;
  bool ok = false;
};

class DiskFullTest : public FaultTest {
 protected:
  // A small export publishes; a large one finds no room. `why` is the error
  // text expected in the destination's failure line.
  void expectFullDiskHandled(const std::string& why) {
    settleLibrary();
    ASSERT_EQ(syncNow(), std::nullopt) << "the small export should fit";
    const auto document = platform::files::readFile(documents() / kDocument);
    const auto marker = platform::files::readFile(documents() / kMarker);
    ASSERT_TRUE(document && marker);

    setHostExport(HostExport::large);
    log.clear();
    EXPECT_EQ(syncNow(), std::optional<std::string>("No write destinations found"));
    EXPECT_EQ(statusLine(), "\u26A0 No write destinations found");
    EXPECT_TRUE(log.contains("[Helper]   \u2717 Documents: " + why)) << "no failure line naming: " << why;
    EXPECT_TRUE(log.contains("[Helper] \u2717 Export failed (manual): noDestinations"));
    // What was published before is still there, whole.
    EXPECT_EQ(platform::files::readFile(documents() / kDocument), document);
    EXPECT_EQ(platform::files::readFile(documents() / kMarker), marker);
    expectNoPartialFiles();

    setHostExport(HostExport::good);
  }
};

TEST_F(DiskFullTest, SmallTmpfsRunsFull) {
  const fs::path mountPoint = home.makeFolder("Library/Mobile Documents");
  TmpfsMount tmpfs(mountPoint);
  if (!tmpfs.mounted) GTEST_SKIP() << "cannot mount a tmpfs here (" << tmpfs.error << "); see FileSizeLimit";
  expectFullDiskHandled(std::strerror(ENOSPC));
  expectNextSyncSucceeds();
}

TEST_F(DiskFullTest, FileSizeLimitIsReached) {
  {
    FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.ok);
    expectFullDiskHandled(std::strerror(EFBIG));
  }
  expectNextSyncSucceeds();
}

}  // namespace
}  // namespace quillory::faults::test
