#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <mutex>

#include "bridge/HostScripts.h"
#include "bridge/ScriptRunner.h"
#include "platform/Files.h"
#include "publish/Derivations.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"
#include "publish/ExportPipeline.h"
#include "publish/JsonWriter.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/ManualDispatcher.h"
#include "support/MemoryDefaults.h"
#include "support/ScriptedAlerts.h"
#include "support/TempHome.h"

namespace quillory::publish {
namespace {

namespace fs = std::filesystem;
namespace files = platform::files;
namespace json = boost::json;

const fs::path kContainerDocuments = "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents";

// Answers every script with the same canned text and records the calls.
class CannedScripts final : public bridge::ScriptRunner {
 public:
  std::string runScript(const std::string& script, double timeoutSeconds) override {
    std::lock_guard lock(mutex_);
    calls_.emplace_back(script, timeoutSeconds);
    return answer_;
  }
  void answer(std::string text) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(text);
  }
  std::vector<std::pair<std::string, double>> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  mutable std::mutex mutex_;
  std::string answer_;
  std::vector<std::pair<std::string, double>> calls_;
};

class ExportPipelineTest : public ::testing::Test {
 protected:
  PipelineContext context() {
    return PipelineContext{defaults,      log,
                           clock,         dispatcher,
                           alerts,        scripts,
                           home.path(),   [this] { return hostRunning; },
                           confirmedName, "test.quillory.mobile",
                           keepFields};
  }
  int run() { return exportLibrary(context()); }
  std::optional<ExportErrorCode> failure() {
    try {
      run();
    } catch (const ExportError& error) {
      return error.code();
    }
    return std::nullopt;
  }
  json::object document(const std::string& filename) {
    const auto text = files::readFile(home / kContainerDocuments / filename);
    if (!text) return {};
    return json::parse(*text).as_object();
  }
  std::string assetPath(const std::string& folder) { return folder + "/assets/ab/cd.jpg"; }

  testing::TempHome home;
  testing::MemoryDefaults defaults;
  testing::CapturingLog log;
  testing::FakeClock clock;
  testing::ManualDispatcher dispatcher;
  testing::ScriptedAlerts alerts{&dispatcher};
  CannedScripts scripts;
  bool hostRunning = true;
  std::optional<std::string> confirmedName;
  const std::set<std::string> keepFields{kKeptItemFields.begin(), kKeptItemFields.end()};
};

TEST_F(ExportPipelineTest, HostNotRunningRunsNoScript) {
  hostRunning = false;
  scripts.answer(R"({"items":[{"id":1}]})");
  EXPECT_EQ(failure(), ExportErrorCode::klNotResponding);
  EXPECT_TRUE(scripts.calls().empty());
}

TEST_F(ExportPipelineTest, RunsTheExportScriptWithItsTimeLimit) {
  scripts.answer(R"({"items":[{"id":1}]})");
  EXPECT_EQ(run(), 1);
  ASSERT_EQ(scripts.calls().size(), 1u);
  EXPECT_EQ(scripts.calls()[0].first, bridge::kExportScript);
  EXPECT_EQ(scripts.calls()[0].second, 90.0);
}

struct FailureCase {
  std::string exportText;
  ExportErrorCode expected;
};

class ExportFailureTest : public ExportPipelineTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ExportFailureTest, ThrowsAndWritesNothing) {
  scripts.answer(GetParam().exportText);
  EXPECT_EQ(failure(), GetParam().expected);
  EXPECT_FALSE(files::exists(home / "Library"));
  EXPECT_TRUE(defaults.keys().empty());
  EXPECT_EQ(log.size(), 0u);
}

std::string nested(int depth) {
  return R"({"items":[{"id":1,"notes":)" + std::string(depth, '[') + std::string(depth, ']') + "}]}";
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, ExportFailureTest,
    ::testing::Values(FailureCase{"", ExportErrorCode::klNotResponding},
                      FailureCase{"not json", ExportErrorCode::parseFailure},
                      FailureCase{R"({"items":[{"id":1}]} x)", ExportErrorCode::parseFailure},
                      FailureCase{R"([{"items":[]}])", ExportErrorCode::parseFailure},
                      FailureCase{R"({"items":{"id":1}})", ExportErrorCode::parseFailure},
                      FailureCase{R"({"receipts":[{"id":1}]})", ExportErrorCode::parseFailure},
                      FailureCase{R"({"items":[{"id":1},2]})", ExportErrorCode::parseFailure},
                      FailureCase{R"({"items":[{"id":1},null]})", ExportErrorCode::parseFailure},
                      FailureCase{"{\"items\":[{\"id\":\"\xff\"}]}", ExportErrorCode::parseFailure},
                      FailureCase{nested(600), ExportErrorCode::parseFailure},
                      FailureCase{nested(1000000), ExportErrorCode::parseFailure},
                      FailureCase{R"({"items":[]})", ExportErrorCode::emptyLibrary},
                      FailureCase{R"({"items":[],"libraryName":"x"})", ExportErrorCode::emptyLibrary}));

TEST_F(ExportPipelineTest, ANumberTooLargeToWriteIsASerialisationError) {
  // The parser reads 1e999 as infinity, which JSON cannot carry.
  scripts.answer(R"({"items":[{"id":1,"ocrText":1e999},{"amounts":{"value":1e999}}]})");
  EXPECT_THROW(run(), JsonWriteError);
  EXPECT_FALSE(files::exists(home / "Library"));
  EXPECT_TRUE(defaults.keys().empty());
}

TEST_F(ExportPipelineTest, AcceptsDeeplyNestedExports) {
  // The export itself is one level, the items array a second, the item a third.
  scripts.answer(nested(kMaxExportDepth - 3));
  EXPECT_EQ(run(), 1);
  scripts.answer(nested(kMaxExportDepth - 2));
  EXPECT_EQ(failure(), ExportErrorCode::parseFailure);
}

TEST_F(ExportPipelineTest, ConfirmedNamePublishesAndRecords) {
  confirmedName = "Business EUR";
  scripts.answer(
      R"({"version":3,"libraryName":"Old","libraryPath":"/old","items":[
      {"id":"a","title":"Taxi","ocrText":"drop me","asset":{"path":"/Volumes/D/Biz/assets/1/a.pdf","size":5}},
      {"id":"b","amounts":{"currency":"USD","value":2725.16},"Tags":["x"],"tags":["y"]}]})");
  EXPECT_EQ(run(), 1);

  const json::object published = document("business-eur.json");
  EXPECT_EQ(published.at("libraryName"), "Business EUR");
  EXPECT_EQ(published.at("currencyCode"), "EUR");
  EXPECT_EQ(published.at("libraryPath"), "/Volumes/D/Biz");
  EXPECT_EQ(published.at("exportedAt"), "2026-12-05T09:00:00Z");
  EXPECT_EQ(published.at("version"), 3);
  EXPECT_EQ(published.at("items"), json::parse(R"([
      {"id":"a","title":"Taxi","asset":{"path":"/Volumes/D/Biz/assets/1/a.pdf","size":5}},
      {"id":"b","amounts":{"currency":"USD","value":2725.16},"tags":["y"]}])"));
  EXPECT_EQ(published.size(), 6u);

  const auto raw = files::readFile(home / kContainerDocuments / "business-eur.json");
  ASSERT_TRUE(raw);
  EXPECT_NE(raw->find(R"("\/Volumes\/D\/Biz\/assets\/1\/a.pdf")"), std::string::npos);
  EXPECT_NE(raw->find("2725.16"), std::string::npos);
  EXPECT_EQ(raw->find('\n'), std::string::npos);
  EXPECT_EQ(raw->find("\": "), std::string::npos);
  EXPECT_EQ(raw->find(", \""), std::string::npos);
  EXPECT_EQ(files::readFile(home / kContainerDocuments / "business-eur_updated.txt"), "2026-12-05T09:00:00Z");

  EXPECT_EQ(defaults.value("library_filename_Business EUR").asString(), "business-eur.json");
  EXPECT_EQ(defaults.value("library_path_Business EUR").asString(), "/Volumes/D/Biz");
  EXPECT_EQ(defaults.keys().size(), 2u);
}

TEST_F(ExportPipelineTest, NameFromTheLibraryFolder) {
  scripts.answer(R"({"items":[{"asset":{"path":"/Users/a/Libraries/Haus CHF/assets/x.jpg"}}]})");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(document("haus-chf.json").at("libraryName"), "Haus CHF");
  EXPECT_EQ(defaults.value("library_filename_Haus CHF").asString(), "haus-chf.json");
  EXPECT_EQ(defaults.value("library_path_Haus CHF").asString(), "/Users/a/Libraries/Haus CHF");
}

TEST_F(ExportPipelineTest, NoNameUsesTheCurrencyAndWritesNoRecords) {
  scripts.answer(R"({"items":[{"asset":{"path":"/Users/a/Lib/x.jpg"},"amounts":{"currency":"chf"}}]})");
  EXPECT_EQ(run(), 1);
  const json::object published = document("receipts-chf.json");
  EXPECT_EQ(published.at("libraryName"), "receipts-chf");
  EXPECT_EQ(published.at("currencyCode"), "CHF");
  EXPECT_EQ(published.at("libraryPath"), "");
  EXPECT_TRUE(defaults.keys().empty());
}

TEST_F(ExportPipelineTest, NoNameAndNoCurrency) {
  scripts.answer(R"({"items":[{"asset":{"path":"/assets/x.jpg"}}]})");
  EXPECT_EQ(run(), 1);
  const json::object published = document("receipts-export.json");
  EXPECT_EQ(published.at("currencyCode"), "EXPORT");
  EXPECT_EQ(published.at("libraryName"), "receipts-export");
  EXPECT_TRUE(defaults.keys().empty());
}

TEST_F(ExportPipelineTest, EmptyFolderPathRecordsOnlyTheFilename) {
  confirmedName = "Home";
  scripts.answer(R"({"items":[{"asset":{"path":"/assets/x.jpg"}}]})");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(defaults.value("library_filename_Home").asString(), "home-export.json");
  EXPECT_TRUE(defaults.value("library_path_Home").isAbsent());
}

TEST_F(ExportPipelineTest, ACurrencyTokenNeverLeavesTheDestinationFolders) {
  home.writeFile(
      "Library/Containers/X/Data/Library/Preferences/"
      "test.quillory.mobile.plist",
      "");
  scripts.answer(R"({"items":[{"amountsOriginal":{"currency":"../../../../evil"}}]})");
  EXPECT_EQ(run(), 2);
  const fs::path app = home / "Library/Containers/X/Data/Documents";
  EXPECT_TRUE(files::exists(app / "........evil.json"));
  EXPECT_TRUE(files::exists(app / "........evil_updated.txt"));
  EXPECT_TRUE(files::exists(app / "evil-........evil.json"));
  const json::object published = document("evil-........evil.json");
  EXPECT_EQ(published.at("currencyCode"), "../../../../EVIL");
  // Nothing was written anywhere else.
  std::vector<std::string> written;
  for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
    if (entry.is_regular_file()) written.push_back(entry.path().lexically_relative(home.path()).string());
  }
  std::sort(written.begin(), written.end());
  EXPECT_THAT(written,
              ::testing::ElementsAre("Library/Containers/X/Data/Documents/........evil.json",
                                     "Library/Containers/X/Data/Documents/........evil_updated.txt",
                                     "Library/Containers/X/Data/Documents/evil-........evil.json",
                                     "Library/Containers/X/Data/Documents/evil-........evil_updated.txt",
                                     "Library/Containers/X/Data/Library/Preferences/"
                                     "test.quillory.mobile.plist",
                                     (kContainerDocuments / "evil-........evil.json").string(),
                                     (kContainerDocuments / "evil-........evil_updated.txt").string()));
}

TEST_F(ExportPipelineTest, NoDestinationWritesNoRecords) {
  confirmedName = "Business EUR";
  home.writeFile(kContainerDocuments, "a file where the folder belongs");
  scripts.answer(R"({"items":[{"asset":{"path":"/Volumes/D/Biz/assets/x.jpg"}}]})");
  EXPECT_EQ(failure(), ExportErrorCode::noDestinations);
  EXPECT_TRUE(defaults.keys().empty());
  EXPECT_EQ(log.count("[Helper]   \u2717 Documents: "), 1u);
}

TEST_F(ExportPipelineTest, OnlyAnAppContainerIsEnough) {
  confirmedName = "Business EUR";
  home.writeFile(kContainerDocuments, "a file where the folder belongs");
  home.writeFile(
      "Library/Containers/X/Data/Library/Preferences/"
      "test.quillory.mobile.plist",
      "");
  scripts.answer(R"({"items":[{"asset":{"path":"/Volumes/D/Biz/assets/x.jpg"}}]})");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(defaults.value("library_filename_Business EUR").asString(), "business-eur.json");
}

TEST_F(ExportPipelineTest, MarkerIsASecondClockReading) {
  class TickingClock final : public platform::Clock {
   public:
    platform::Date now() const override {
      std::lock_guard lock(mutex_);
      const auto reading = testing::FakeClock::defaultStart() + std::chrono::seconds(readings_);
      ++readings_;
      return reading;
    }
    void sleepFor(double) override {}

   private:
    mutable std::mutex mutex_;
    mutable int readings_ = 0;
  } ticking;
  scripts.answer(R"({"items":[{"id":1}]})");
  PipelineContext ctx = context();
  PipelineContext withClock{ctx.defaults,    ctx.log,           ticking,
                            ctx.dispatcher,  ctx.alerts,        ctx.scripts,
                            ctx.home,        ctx.isHostRunning, ctx.confirmedLibraryName,
                            ctx.iOSBundleID, ctx.keepFields};
  EXPECT_EQ(exportLibrary(withClock), 1);
  EXPECT_EQ(document("receipts-export.json").at("exportedAt"), "2026-12-05T09:00:00Z");
  EXPECT_EQ(files::readFile(home / kContainerDocuments / "receipts-export_updated.txt"),
            "2026-12-05T09:00:01Z");
}

TEST_F(ExportPipelineTest, AConflictShowsTheAlertOnTheMainThreadAndWritesNothing) {
  const fs::path other = home.makeFolder("Other/Biz");
  const std::string existing = R"({"libraryPath":")" + other.string() + R"(","items":[]})";
  home.writeFile(kContainerDocuments / "business-eur.json", existing);
  confirmedName = "Business EUR";
  scripts.answer(R"({"items":[{"asset":{"path":"/Volumes/D/Biz/assets/x.jpg"}}]})");

  std::optional<ExportErrorCode> result;
  dispatcher.global(platform::QualityOfService::userInitiated, [&] { result = failure(); });
  ASSERT_TRUE(dispatcher.drain());

  EXPECT_EQ(result, ExportErrorCode::nameConflict);
  ASSERT_EQ(alerts.count(), 1u);
  EXPECT_EQ(alerts.offMainCalls(), 0u);
  const platform::Alert alert = alerts.shown()[0];
  EXPECT_EQ(alert.message, "Library name conflict: \"Business EUR\"");
  EXPECT_LT(alert.informativeText.find(other.string()), alert.informativeText.find("/Volumes/D/Biz"));
  EXPECT_EQ(files::readFile(home / kContainerDocuments / "business-eur.json"), existing);
  EXPECT_FALSE(files::exists(home / kContainerDocuments / "business-eur_updated.txt"));
  EXPECT_TRUE(defaults.keys().empty());
}

TEST_F(ExportPipelineTest, AConflictWithoutANameShowsTheFilename) {
  const fs::path other = home.makeFolder("Other");
  home.writeFile(kContainerDocuments / "receipts-chf.json", R"({"libraryPath":")" + other.string() + R"("})");
  scripts.answer(
      R"({"items":[{"asset":{"path":"/assets/x.jpg"},"amounts":{"currency":"CHF"}},
                              {"asset":{"path":"/Users/a/Lib/assets/x.jpg"}}]})");
  // The library path is empty here, so there is no conflict at all.
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(alerts.count(), 0u);
  EXPECT_EQ(document("receipts-chf.json").at("libraryPath"), "");
}

}  // namespace
}  // namespace quillory::publish
