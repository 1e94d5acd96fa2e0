#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <mutex>

#include "bridge/HostScripts.h"
#include "platform/Files.h"
#include "publish/Derivations.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"
#include "publish/ExportPipeline.h"
#include "publish/JsonWriter.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/FakeScriptRunner.h"
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
const fs::path kAppPreferences = "Library/Containers/X/Data/Library/Preferences/test.quillory.mobile.plist";

// Each reading one second after the one before, so the document's time and
// the marker's can be told apart.
class TickingClock final : public platform::Clock {
 public:
  platform::Date now() const override {
    std::lock_guard lock(mutex_);
    return testing::FakeClock::defaultStart() + std::chrono::seconds(readings_++);
  }
  void sleepFor(std::chrono::milliseconds) override {}

 private:
  mutable std::mutex mutex_;
  mutable int readings_ = 0;
};

std::string nested(std::size_t depth) {
  return R"({"items":[{"id":1,"notes":)" + std::string(depth, '[') + std::string(depth, ']') + "}]}";
}

class ExportPipelineTest : public ::testing::Test {
 protected:
  int run(const std::string& exportText) {
    scripts.setAnswer(bridge::kExportScript, exportText);
    return exportLibrary(PipelineContext{defaults, log, clock, dispatcher, alerts, scripts, home.path(),
                                         [this] { return hostRunning; }, confirmedName,
                                         "test.quillory.mobile", keepFields});
  }
  std::optional<ExportErrorCode> failure(const std::string& exportText) {
    try {
      run(exportText);
    } catch (const ExportError& error) {
      return error.code();
    }
    return std::nullopt;
  }
  std::optional<std::string> written(const std::string& filename) {
    return files::readFile(home / kContainerDocuments / filename);
  }
  json::object document(const std::string& filename) {
    const auto text = written(filename);
    return text ? json::parse(*text).as_object() : json::object();
  }

  testing::TempHome home;
  testing::MemoryDefaults defaults;
  testing::CapturingLog log;
  TickingClock clock;
  testing::ManualDispatcher dispatcher;
  testing::ScriptedAlerts alerts{&dispatcher};
  testing::FakeScriptRunner scripts;
  bool hostRunning = true;
  std::optional<std::string> confirmedName;
  const std::set<std::string> keepFields{kKeptItemFields.begin(), kKeptItemFields.end()};
};

TEST_F(ExportPipelineTest, RunsTheExportScriptWithItsTimeLimitOnlyWhileTheHostRuns) {
  hostRunning = false;
  EXPECT_EQ(failure(R"({"items":[{"id":1}]})"), ExportErrorCode::klNotResponding);
  EXPECT_EQ(scripts.totalCalls(), 0u);
  hostRunning = true;
  EXPECT_EQ(run(nested(kMaxExportDepth - 3)), 1);  // as deep as allowed
  EXPECT_EQ(scripts.totalCalls(), 1u);
  EXPECT_EQ(scripts.lastTimeout(bridge::kExportScript), std::chrono::seconds(90));
}

struct FailureCase {
  std::string exportText;
  ExportErrorCode expected;
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << exportErrorCaseName(c.expected); }
};

class ExportFailureTest : public ExportPipelineTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ExportFailureTest, ThrowsAndWritesNothing) {
  EXPECT_EQ(failure(GetParam().exportText), GetParam().expected);
  EXPECT_FALSE(files::exists(home / "Library"));
  EXPECT_TRUE(defaults.keys().empty());
  EXPECT_EQ(log.size(), 0u);
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
                      FailureCase{"{\"items\":[{\"id\":\"\xff\"}]}", ExportErrorCode::parseFailure},
                      // The export is one level, the items array a second, the item a third.
                      FailureCase{nested(kMaxExportDepth - 2), ExportErrorCode::parseFailure},
                      FailureCase{nested(1000000), ExportErrorCode::parseFailure},
                      FailureCase{R"({"items":[]})", ExportErrorCode::emptyLibrary}),
    [](const auto& info) {
      return std::to_string(info.index) + "_" + std::string(exportErrorCaseName(info.param.expected));
    });

TEST_F(ExportPipelineTest, ANumberTooLargeToWriteIsASerialisationError) {
  // The parser reads 1e999 as infinity, which JSON cannot carry.
  EXPECT_THROW(run(R"({"items":[{"id":1,"ocrText":1e999},{"amounts":{"value":1e999}}]})"), JsonWriteError);
  EXPECT_FALSE(files::exists(home / "Library"));
  EXPECT_TRUE(defaults.keys().empty());
}

TEST_F(ExportPipelineTest, ConfirmedNamePublishesAndRecords) {
  confirmedName = "Business EUR";
  // A repeated member counts with its last value, in the items too; nothing is taken from a replaced one.
  EXPECT_EQ(run(R"({"version":2,"items":[{"id":"gone","asset":{"path":"/Gone/assets/x.pdf"}}],"version":3,
      "libraryName":"Old","libraryPath":"/old","items":[
      {"id":"a","title":"Taxi","ocrText":"drop me","asset":{"path":"/Volumes/D/Biz/assets/1/a.pdf","size":5}},
      {"id":"x","id":"b","amounts":{"currency":"USD","value":2725.16},"Tags":["x"],"tags":["y"]}]})"),
            1);

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

  const std::string raw = written("business-eur.json").value_or("");
  EXPECT_NE(raw.find(R"("\/Volumes\/D\/Biz\/assets\/1\/a.pdf")"), std::string::npos);
  EXPECT_NE(raw.find("2725.16"), std::string::npos);
  EXPECT_EQ(raw.find('\n'), std::string::npos);
  EXPECT_EQ(raw.find("\": "), std::string::npos);
  EXPECT_EQ(raw.find(", \""), std::string::npos);
  // The marker is the clock's second reading, with no line end.
  EXPECT_EQ(written("business-eur_updated.txt"), "2026-12-05T09:00:01Z");

  EXPECT_EQ(defaults.keys(),
            (std::vector<std::string>{"library_filename_Business EUR", "library_path_Business EUR"}));
  EXPECT_EQ(defaults.value("library_filename_Business EUR").asString(), "business-eur.json");
  EXPECT_EQ(defaults.value("library_path_Business EUR").asString(), "/Volumes/D/Biz");
}

struct NamingCase {
  const char* what;
  std::optional<std::string> confirmedName;
  std::string exportText;
  std::string filename;
  std::string name, currency, path;  // the published libraryName, currencyCode and libraryPath
  int records;                       // 0: none; 1: the filename; 2: the filename and the path
};

TEST_F(ExportPipelineTest, NamesTheDocumentAndRecordsOnlyANamedLibrary) {
  const std::string noName = R"({"items":[{"asset":{"path":"/assets/x.jpg"}}]})";
  const NamingCase cases[] = {
      {"name from the library folder", std::nullopt,
       R"({"items":[{"asset":{"path":"/Users/a/Libraries/Haus CHF/assets/x.jpg"}}]})", "haus-chf.json",
       "Haus CHF", "CHF", "/Users/a/Libraries/Haus CHF", 2},
      {"no name: the currency", std::nullopt,
       R"({"items":[{"amounts":{"currency":"gbp"}}],
           "items":[{"asset":{"path":"/Users/a/Lib/x.jpg"},"amounts":{"currency":"chf"}}]})",
       "receipts-chf.json", "receipts-chf", "CHF", "", 0},
      {"no name and no currency", std::nullopt, noName, "receipts-export.json", "receipts-export", "EXPORT",
       "", 0},
      {"an empty folder path records only the filename", "Home", noName, "home-export.json", "Home", "EXPORT",
       "", 1},
      // The streamed derivations: original amounts of all items before any other amounts, and
      // the first item whose asset path names an "/assets/" folder.
      {"currency from the items' original amounts first", std::nullopt,
       R"({"items":[{"amounts":{"currency":"EUR"}},{"amountsOriginal":{"currency":""}},
                    {"amountsOriginal":{"currency":"Usd"}}]})",
       "receipts-usd.json", "receipts-usd", "USD", "", 0},
      {"the first usable asset path", std::nullopt,
       R"({"items":[{"asset":"/a/assets/y.jpg"},{"asset":{"path":3}},{"asset":{"path":"/U/Other/y.jpg"}},
                    {"asset":{"path":"/U/Assets/assets/one/assets/y.jpg"}},{"asset":{"path":"/U/L/assets/z"}}]})",
       "assets-export.json", "Assets", "EXPORT", "/U/Assets", 2},
  };
  for (const NamingCase& c : cases) {
    SCOPED_TRACE(c.what);
    defaults.clear();
    confirmedName = c.confirmedName;
    ASSERT_EQ(run(c.exportText), 1);
    const json::object published = document(c.filename);
    EXPECT_EQ(published.at("libraryName"), c.name.c_str());
    EXPECT_EQ(published.at("currencyCode"), c.currency.c_str());
    EXPECT_EQ(published.at("libraryPath"), c.path.c_str());
    const std::vector<std::string> keys{"library_filename_" + c.name, "library_path_" + c.name};
    EXPECT_EQ(defaults.keys(), std::vector<std::string>(keys.begin(), keys.begin() + c.records));
    for (int i = 0; i < c.records; ++i) {
      EXPECT_EQ(defaults.value(keys[i]).asString(), i == 0 ? c.filename : c.path);
    }
  }
}

TEST_F(ExportPipelineTest, ACurrencyTokenNeverLeavesTheDestinationFolders) {
  home.writeFile(kAppPreferences, "");
  EXPECT_EQ(run(R"({"items":[{"amountsOriginal":{"currency":"../../../../evil"}}]})"), 2);
  EXPECT_EQ(document("evil-........evil.json").at("currencyCode"), "../../../../EVIL");
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
                                     kAppPreferences.string(),
                                     (kContainerDocuments / "evil-........evil.json").string(),
                                     (kContainerDocuments / "evil-........evil_updated.txt").string()));
}

TEST_F(ExportPipelineTest, RecordsOnlyAfterAtLeastOneDestination) {
  confirmedName = "Business EUR";
  home.writeFile(kContainerDocuments, "a file where the folder belongs");
  const std::string exportText = R"({"items":[{"asset":{"path":"/Volumes/D/Biz/assets/x.jpg"}}]})";
  EXPECT_EQ(failure(exportText), ExportErrorCode::noDestinations);
  EXPECT_TRUE(defaults.keys().empty());
  EXPECT_EQ(log.count("[Helper]   \u2717 Documents: "), 1u);

  home.writeFile(kAppPreferences, "");  // an app container alone is enough
  EXPECT_EQ(run(exportText), 1);
  EXPECT_EQ(defaults.value("library_filename_Business EUR").asString(), "business-eur.json");
}

TEST_F(ExportPipelineTest, AConflictShowsTheAlertOnTheMainThreadAndWritesNothing) {
  const fs::path other = home.makeFolder("Other/Biz");
  const std::string existing = R"({"libraryPath":")" + other.string() + R"(","items":[]})";
  home.writeFile(kContainerDocuments / "business-eur.json", existing);
  confirmedName = "Business EUR";

  std::optional<ExportErrorCode> result;
  dispatcher.global(platform::QualityOfService::userInitiated, [&] {
    result = failure(R"({"items":[{"asset":{"path":"/Volumes/D/Biz/assets/x.jpg"}}]})");
  });
  ASSERT_TRUE(dispatcher.drain());

  EXPECT_EQ(result, ExportErrorCode::nameConflict);
  ASSERT_EQ(alerts.count(), 1u);
  EXPECT_EQ(alerts.offMainCalls(), 0u);
  const platform::Alert alert = alerts.shown()[0];
  EXPECT_EQ(alert.message, "Library name conflict: \"Business EUR\"");
  EXPECT_LT(alert.informativeText.find(other.string()), alert.informativeText.find("/Volumes/D/Biz"));
  EXPECT_EQ(written("business-eur.json"), existing);
  EXPECT_FALSE(written("business-eur_updated.txt"));
  EXPECT_TRUE(defaults.keys().empty());
}

}  // namespace
}  // namespace quillory::publish
