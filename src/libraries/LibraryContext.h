#pragma once
// What the library-maintenance operations work on: the settings store, the
// log and the user's home folder (the container Documents folder lies below
// it). Passed by the engine; holds references only.

#include <filesystem>

namespace quillory::platform {
class Defaults;
class Log;
}  // namespace quillory::platform

namespace quillory::libraries {

struct LibraryContext {
  platform::Defaults& defaults;
  platform::Log& log;
  std::filesystem::path home;
};

}  // namespace quillory::libraries
