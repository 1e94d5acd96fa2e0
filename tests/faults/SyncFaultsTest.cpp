// Faults a sync meets: files where folders belong and folders where files
// belong (in the destinations, or the settings file), there before the first
// sync; and after a first sync has published, a full disk, a host that dies
// mid-output, prints bytes that are not UTF-8 or never ends and ignores the
// termination request, or a settings file replaced by garbage. Each sync
// ends with its error or succeeds as far as it can, logs what failed, writes
// no records when it fails and leaves what was published, no partial file
// and nothing changed outside the helper's folders; once the fault is gone
// the next sync succeeds.

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "faults/FaultFixture.h"
#include "platform/Files.h"
#include "support/ProcessFigures.h"

namespace quillory::faults::test {
namespace {

// A tmpfs of 64 KB over `at`, removed on the way out (lazily, so that a file
// still open in it cannot keep it). A namespace of its own keeps the mount
// out of everyone else's view; it cannot be made once the process has
// threads, and then the mount is made where it is.
struct TmpfsMount {
  explicit TmpfsMount(const fs::path& at) : at(at) {
    if (::unshare(CLONE_NEWNS) == 0) ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    mounted = ::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") == 0;
    error = std::strerror(errno);
  }
  ~TmpfsMount() {
    if (mounted) ::umount2(at.c_str(), MNT_DETACH);
  }
  const fs::path at;
  bool mounted = false;
  std::string error;
};

enum class Kind {
  obstacle,       // at `text` below `under` a file where a folder belongs, or a folder
                  // (holding keep.txt) where a file belongs; it must stay as it is
  fullTmpfs,      // the container's folder on a 64 KB tmpfs from the start, then a large export
  fileSizeLimit,  // a 64 KB file size limit for this process and its children (SIGXFSZ ignored, so
                  // that a write past it fails with EFBIG), then a large export
  hostCut,        // the host's export ends as cut.txt `text` says
  hostExport,     // the host's export is `text`
  settingsGarbage,
};
enum class Under { home, documents, app, settings };

struct SyncFault {
  const char* name;
  Kind kind;
  Under under;
  const char* text;
  bool folder;
  const char* error;     // lastError after the sync, null when it succeeds
  const char* failure;   // the failure's case in the log, when it fails
  std::string line{};    // expected in the log besides the sync's own line
  int destinations = 1;  // with an app container added before the first sync: 2
  friend void PrintTo(const SyncFault& c, std::ostream* os) { *os << c.name; }
};

const char* const kNone = "No write destinations found";
const char* const kNotResponding = "Kettle Ledger did not respond";
const std::string kDocumentsFailed = "[Helper]   \u2717 Documents: ";

const SyncFault kFaults[] = {
    {"ContainerDocumentsIsAFile", Kind::obstacle, Under::documents, "", false, kNone, "noDestinations",
     kDocumentsFailed},
    {"MobileDocumentsIsAFile", Kind::obstacle, Under::home, "Library/Mobile Documents", false, kNone,
     "noDestinations", kDocumentsFailed},
    {"DocumentIsAFolder", Kind::obstacle, Under::documents, "biz-eur.json", true, kNone, "noDestinations",
     kDocumentsFailed},
    {"MarkerIsAFolder", Kind::obstacle, Under::documents, "biz-eur_updated.txt", true, kNone,
     "noDestinations", kDocumentsFailed},
    {"AppContainerDocumentsIsAFile", Kind::obstacle, Under::app, "", false, nullptr, nullptr,
     kDocumentsFailed, 2},
    {"AppContainerDocumentIsAFolder", Kind::obstacle, Under::app, "biz-eur.json", true, nullptr, nullptr,
     kDocumentsFailed, 2},
    {"ContainersFolderIsAFile", Kind::obstacle, Under::home, "Library/Containers", false, nullptr, nullptr},
    // The running helper says that it cannot save, and leaves the folder.
    {"SettingsFileIsAFolder", Kind::obstacle, Under::settings, "", true, nullptr, nullptr, "[Helper] \u26A0"},
    // The running helper keeps its settings (the library is not asked about
    // again) and its next save writes a complete file.
    {"SettingsFileIsGarbage", Kind::settingsGarbage, Under::home, "bplist00\xff not settings", false, nullptr,
     nullptr, ""},
    {"SmallTmpfsRunsFull", Kind::fullTmpfs, Under::home, "", false, kNone, "noDestinations",
     kDocumentsFailed + std::strerror(ENOSPC)},
    {"FileSizeLimitIsReached", Kind::fileSizeLimit, Under::home, "", false, kNone, "noDestinations",
     kDocumentsFailed + std::strerror(EFBIG)},
    {"HostDiesMidOutput", Kind::hostCut, Under::home, "200 dies", false, "Could not parse export",
     "parseFailure"},
    {"HostPrintsInvalidUtf8", Kind::hostExport, Under::home,
     "{\"items\":[{\"id\":\"1\",\"title\":\"\xff\xfe\"}]}", false, kNotResponding, "klNotResponding"},
    // The export's 90-second limit passes 30 times faster; the script is
    // killed after the grace period and reaped.
    {"HostNeverEndsAndIgnoresTerm", Kind::hostCut, Under::home, "10 hangs", false, kNotResponding,
     "klNotResponding",
     "[Helper] \u26A0 JXA timed out after 90s \u2014 check System Settings \u203A Privacy & Security \u203A "
     "Automation"},
};

class SyncFaultTest : public FaultTest, public ::testing::WithParamInterface<SyncFault> {
 protected:
  fs::path obstacle() const {
    const SyncFault& f = GetParam();
    const fs::path base = f.under == Under::home       ? home.path()
                          : f.under == Under::app      ? appDocuments()
                          : f.under == Under::settings ? settingsFile
                                                       : documents();
    return *f.text ? base / f.text : base;
  }
  fs::path obstacleFile() const { return GetParam().folder ? obstacle() / "keep.txt" : obstacle(); }

  void make() {
    const SyncFault& f = GetParam();
    switch (f.kind) {
      case Kind::obstacle:
        fs::remove_all(obstacle());
        home.writeFile(obstacleFile().lexically_relative(home.path()), f.folder ? "kept" : "not a folder");
        break;
      case Kind::fullTmpfs:
      case Kind::fileSizeLimit:
        setLargeExport(true);  // before the limit, which would stop its writing
        if (f.kind == Kind::fileSizeLimit) {
          ::signal(SIGXFSZ, SIG_IGN);
          ::getrlimit(RLIMIT_FSIZE, &savedLimit);
          rlimit limited{64 * 1024, savedLimit.rlim_max};
          ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        }
        break;
      case Kind::hostCut:
        setHost("cut.txt", f.text);
        if (f.text == std::string("10 hangs")) clock.setSpeed(30);
        break;
      case Kind::hostExport:
        setHost("export.json", f.text);
        break;
      case Kind::settingsGarbage:
        platform::files::atomicWrite(settingsFile, f.text);
        break;
    }
  }

  void undo() {
    clock.setSpeed(1);
    if (GetParam().kind == Kind::fileSizeLimit) ::setrlimit(RLIMIT_FSIZE, &savedLimit);
    if (GetParam().kind == Kind::obstacle) fs::remove_all(obstacle());
    fs::remove(host / "cut.txt");
    setLargeExport(false);
  }

  std::optional<TmpfsMount> tmpfs;
  rlimit savedLimit{};
};

TEST_P(SyncFaultTest, IsReportedAndRecoveredFrom) {
  const SyncFault& fault = GetParam();
  if (fault.destinations == 2) addAppContainer();
  if (fault.kind == Kind::fullTmpfs) {
    tmpfs.emplace(home.makeFolder("Library/Mobile Documents"));
    if (!tmpfs->mounted) GTEST_SKIP() << "cannot mount a tmpfs here (" << tmpfs->error << ")";
  }
  settleLibrary();
  // An obstacle is there before the first sync; the other faults come after it.
  if (fault.kind != Kind::obstacle) {
    ASSERT_EQ(syncNow(), std::nullopt);
  }
  make();
  const auto document = platform::files::readFile(documents() / kDocument);
  const auto marker = platform::files::readFile(documents() / kMarker);
  const auto record = defaults->value("library_filename_Biz").asString();
  const std::set<std::string> outside = outsideTheFolders();

  log.clear();
  const std::optional<std::string> error = syncNow();

  EXPECT_EQ(error, fault.error ? std::optional<std::string>(fault.error) : std::nullopt);
  EXPECT_EQ(statusLine(), error ? "\u26A0 " + *error : "Last sync: ...");
  EXPECT_TRUE(log.contains(error ? std::string("[Helper] \u2717 Export failed (manual): ") + fault.failure
                                 : "[Helper] \u2713 Export OK (manual) \u2192 1 destination(s)"));
  EXPECT_TRUE(log.contains(fault.line)) << fault.line;
  EXPECT_EQ(log.contains(kDocumentsFailed), fault.line.starts_with(kDocumentsFailed));
  EXPECT_EQ(alerts->count(), 1u) << "the library's answer was forgotten";
  if (error) {
    EXPECT_EQ(defaults->value("library_filename_Biz").asString(), record)
        << "records written for a failed export";
  }
  if (fault.kind == Kind::obstacle) {
    EXPECT_EQ(fs::is_directory(obstacle()), fault.folder) << "the obstacle was removed";
    EXPECT_EQ(platform::files::readFile(obstacleFile()), fault.folder ? "kept" : "not a folder");
  } else if (error) {
    EXPECT_EQ(platform::files::readFile(documents() / kDocument), document);
    EXPECT_EQ(platform::files::readFile(documents() / kMarker), marker);
  }
  if (fault.kind == Kind::hostCut) {
    clock.setSpeed(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (testing::takeProcessFigures().children != 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(testing::takeProcessFigures().children, 0) << "the host's script is still there";
  }
  expectNoPartialFiles();
  EXPECT_EQ(outsideTheFolders(), outside);

  undo();
  expectNextSyncSucceeds(fault.destinations);
}

INSTANTIATE_TEST_SUITE_P(Faults, SyncFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The library-name script printing bytes that are not UTF-8 counts as no
// answer: no library, nothing published or asked, and a good answer later
// settles the library as usual.
TEST_F(FaultTest, NameScriptPrintingInvalidUtf8MeansNoLibrary) {
  setHost("name.txt", "Bi\xffz\n");
  manager->periodicCheck();
  manager->periodicCheck();
  EXPECT_EQ(manager->currentLibraryName(), std::nullopt);
  EXPECT_EQ(alerts->count(), 0u);

  setHost("name.txt", "Biz\n");
  settleLibrary();
  expectNextSyncSucceeds();
}

}  // namespace
}  // namespace quillory::faults::test
