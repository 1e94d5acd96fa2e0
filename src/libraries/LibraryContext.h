#pragma once
// What the library-maintenance operations work on: the settings store, the
// log and the user's home folder (the container Documents folder lies below
// it). Passed by the engine; holds references only.

#include <filesystem>
#include <mutex>

namespace quillory::platform {
class Defaults;
class Log;
}  // namespace quillory::platform

namespace quillory::libraries {

struct LibraryContext {
  platform::Defaults& defaults;
  platform::Log& log;
  std::filesystem::path home;
  // The engine's publish lock: pruning takes it for each library it looks
  // at, so that a library is never forgotten or deleted while an export
  // decides about it or writes it. None: nothing to lock against.
  std::mutex* publishLock = nullptr;
};

}  // namespace quillory::libraries
