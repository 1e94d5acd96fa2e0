#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "libraries/LibraryRegistry.h"
#include "support/MemoryDefaults.h"

namespace quillory::libraries {
namespace {

using ::testing::ElementsAre;

TEST(LibraryRegistry, EmptyDefaultsKnowNothing) {
  testing::MemoryDefaults defaults;
  EXPECT_TRUE(knownLibraries(defaults).empty());
  EXPECT_FALSE(isLibraryEnabled(defaults, "Business"));
}

TEST(LibraryRegistry, OnlyTheBoolTrueSwitchesALibraryOnButEveryValueIsListed) {
  testing::MemoryDefaults defaults;
  defaults.setBool("sync_library_On", true);
  defaults.setBool("sync_library_Off", false);
  defaults.setString("sync_library_Text", "true");
  defaults.setDate("sync_library_Date", std::chrono::system_clock::now());
  defaults.setOther("sync_library_Other");

  EXPECT_TRUE(isLibraryEnabled(defaults, "On"));
  for (const char* name : {"Off", "Text", "Date", "Other", "Absent"}) {
    EXPECT_FALSE(isLibraryEnabled(defaults, name)) << name;
  }
  EXPECT_THAT(knownLibraries(defaults), ElementsAre("Date", "Off", "On", "Other", "Text"));
}

TEST(LibraryRegistry, ListsNamesByCodePointsOfTheirComposedForm) {
  testing::MemoryDefaults defaults;
  for (const char* name :
       {"b", "A", "a", "f", "e\xCC\x81" /* e + combining acute */, "Quarterly report \"Q1\""}) {
    defaults.setBool(std::string("sync_library_") + name, false);
  }
  defaults.setBool("sync_library_",
                   true);  // the bare prefix names the empty library
  defaults.setBool("autoSyncEnabled", true);
  defaults.setString("library_path_z", "/z");
  defaults.setBool("sync_librar", true);

  // The decomposed é composes to U+00E9 and so sorts after "f", unlike its bytes.
  EXPECT_THAT(knownLibraries(defaults),
              ElementsAre("", "A", "Quarterly report \"Q1\"", "a", "b", "f", "e\xCC\x81"));
}

}  // namespace
}  // namespace quillory::libraries
