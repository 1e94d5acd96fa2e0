// States and order beyond the engine's registry test: values of every other
// type, and names sorted by their canonically composed form.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "libraries/LibraryRegistry.h"
#include "support/MemoryDefaults.h"

namespace quillory::libraries {
namespace {

TEST(LibraryRegistry, OnlyTheBoolTrueSwitchesOnAndNamesSortByTheirComposedForm) {
  testing::MemoryDefaults defaults;
  defaults.setBool("sync_library_b", true);
  defaults.setBool("sync_library_f", false);
  defaults.setString("sync_library_A", "true");
  defaults.setDate("sync_library_a", std::chrono::system_clock::now());
  defaults.setOther("sync_library_e\xCC\x81");  // e + combining acute
  defaults.setBool("sync_library_", true);      // the bare prefix names the empty library
  defaults.setString("library_path_z", "/z");
  defaults.setBool("sync_librar", true);

  EXPECT_TRUE(isLibraryEnabled(defaults, "b"));
  for (const char* name : {"f", "A", "a", "e\xCC\x81", "Absent"}) {
    EXPECT_FALSE(isLibraryEnabled(defaults, name)) << name;
  }
  // The decomposed é composes to U+00E9 and so sorts after "f", unlike its bytes.
  EXPECT_THAT(knownLibraries(defaults), ::testing::ElementsAre("", "A", "a", "b", "f", "e\xCC\x81"));
}

}  // namespace
}  // namespace quillory::libraries
