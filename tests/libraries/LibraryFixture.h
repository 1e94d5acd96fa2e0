#pragma once
// What the library-maintenance tests share: memory defaults, a capturing log
// and a real temporary home folder with helpers that publish documents into
// its container Documents folder.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <filesystem>
#include <string>
#include <vector>

#include "libraries/LibraryContext.h"
#include "platform/Files.h"
#include "publish/ContainerPaths.h"
#include "support/CapturingLog.h"
#include "support/MemoryDefaults.h"
#include "support/TempHome.h"

namespace quillory::libraries::test {

namespace fs = std::filesystem;
using publish::containerDocumentsFolder;
using publish::kContainerDocumentsRelative;
using publish::markerNameFor;
using ::testing::ElementsAre;

class LibraryFixture : public ::testing::Test {
 protected:
  testing::MemoryDefaults defaults;
  testing::CapturingLog log;
  testing::TempHome home;
  LibraryContext context{defaults, log, home.path()};

  fs::path docs() const { return containerDocumentsFolder(home.path()); }
  fs::path docsRelative(const std::string& entry) const {
    return fs::path(kContainerDocumentsRelative) / entry;
  }
  fs::path writeEntry(const std::string& entry, std::string_view bytes) const {
    return home.writeFile(docsRelative(entry), bytes);
  }
  bool hasEntry(const std::string& entry) const { return fs::exists(docs() / entry); }

  // Publishes a document pair naming `name` and `path` as a real export would,
  // into the container Documents folder or another folder below the home.
  fs::path publish(const std::string& fileName, boost::json::value_ref name, boost::json::value_ref path,
                   const fs::path& folder = kContainerDocumentsRelative) const {
    boost::json::object document{
        {"libraryName", name}, {"libraryPath", path}, {"items", boost::json::array{}}};
    if (markerNameFor(fileName) != fileName)
      home.writeFile(folder / markerNameFor(fileName), "2026-12-05T11:32:21Z");
    return home.writeFile(folder / fileName, boost::json::serialize(document));
  }

  // The first of `candidates` in the file system's listing order.
  std::string firstListed(const std::vector<std::string>& candidates) const {
    for (const std::string& entry :
         platform::files::listFolder(docs()).value_or(std::vector<std::string>{})) {
      if (std::find(candidates.begin(), candidates.end(), entry) != candidates.end()) return entry;
    }
    return "";
  }
};

}  // namespace quillory::libraries::test
