// kettle-ledger-sim: a stand-in for "/usr/bin/osascript" talking to Kettle
// Ledger, for machines without either (Linux, the demo, the end-to-end tests).
//
// It takes osascript's arguments, "-l JavaScript -e SCRIPT", and answers the
// helper's two scripts, character for character, from the files of a state
// folder named by the environment variable KETTLE_LEDGER_SIM_DIR:
//
//   name.txt          the open library's name (one trailing line break is
//                     dropped). Absent: no library is open, and the name
//                     script fails like osascript does on documents[0].
//   export.json       the text export() returns, passed through unchanged.
//                     Absent: the host answers nothing.
//   not-running       present: Kettle Ledger is not running; both scripts
//                     print an empty line, as `kl.running() ? ... : ""` does.
//   not-authorized    present: the user has not allowed automation; both
//                     scripts fail with osascript's error -1743.
//   delay.txt         seconds (a decimal number) to wait before answering
//   name-delay.txt    either script; the two others apply to one script and
//   export-delay.txt  take precedence. Used to exercise the time limits.
//   cut.txt           "<bytes> dies" or "<bytes> hangs": the export stops
//                     after that many bytes, and the host is killed there
//                     (SIGKILL) or never ends and ignores the termination
//                     request, as a host that crashes or hangs mid-answer.
//
// Anything else (other arguments, another script, no state folder) fails the
// way osascript does: a message on standard error, exit status 1, nothing on
// standard output.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bridge/HostScripts.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFailure = 1;

int fail(const std::string& message) {
  std::cerr << message << '\n';
  return kFailure;
}

std::optional<std::string> readWhole(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

// Writes everything to standard output, continuing after partial writes.
bool writeAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Seconds from the first delay file that exists; a file that does not hold a
// non-negative number is reported and ignored.
double delayFor(const fs::path& state, const char* specificFile) {
  for (const char* name : {specificFile, "delay.txt"}) {
    const auto text = readWhole(state / name);
    if (!text) continue;
    char* end = nullptr;
    const double seconds = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || !(seconds >= 0) || seconds > 86400) {
      std::cerr << "kettle-ledger-sim: ignoring " << name << ": not a number of seconds\n";
      return 0;
    }
    return seconds;
  }
  return 0;
}

void wait(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

int answerName(const fs::path& state) {
  wait(delayFor(state, "name-delay.txt"));
  auto name = readWhole(state / "name.txt");
  if (!name) {
    // What osascript reports when the application has no document open.
    return fail("execution error: Error: Invalid index. (-1719)");
  }
  if (!name->empty() && name->back() == '\n') name->pop_back();
  if (!name->empty() && name->back() == '\r') name->pop_back();
  return writeAll(*name + "\n") ? 0 : kFailure;
}

// Where the export stops and what the host does there (cut.txt).
struct Cut {
  std::size_t bytes = SIZE_MAX;
  bool hangs = false;
};

Cut cutFor(const fs::path& state) {
  const auto text = readWhole(state / "cut.txt");
  if (!text) return {};
  std::istringstream in(*text);
  Cut cut;
  std::string how;
  if (!(in >> cut.bytes >> how) || (how != "dies" && how != "hangs")) {
    std::cerr << "kettle-ledger-sim: ignoring cut.txt: not \"<bytes> dies\" or \"<bytes> hangs\"\n";
    return {};
  }
  cut.hangs = how == "hangs";
  return cut;
}

[[noreturn]] void endAtCut(const Cut& cut) {
  if (!cut.hangs) ::raise(SIGKILL);
  ::signal(SIGTERM, SIG_IGN);
  for (;;) ::pause();
}

int answerExport(const fs::path& state) {
  wait(delayFor(state, "export-delay.txt"));
  Cut cut = cutFor(state);
  const fs::path file = state / "export.json";
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return 0;  // the host answered nothing
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  // Streamed in large chunks, so a large export costs the stand-in little
  // next to the helper that reads it.
  std::vector<char> chunk(1 << 20);
  bool written = true;
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), std::min(chunk.size(), cut.bytes));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      written = n == 0;
      break;
    }
    if (!writeAll(std::string_view(chunk.data(), static_cast<std::size_t>(n)))) {
      written = false;
      break;
    }
    if (cut.bytes != SIZE_MAX) cut.bytes -= static_cast<std::size_t>(n);
  }
  if (cut.bytes != SIZE_MAX) endAtCut(cut);
  ::close(fd);
  // osascript ends the printed result with a line break.
  return written && writeAll("\n") ? 0 : kFailure;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away (the helper's time limit) ends the answer quietly.
  ::signal(SIGPIPE, SIG_IGN);

  if (argc != 5 || std::string_view(argv[1]) != "-l" || std::string_view(argv[3]) != "-e") {
    return fail("usage: osascript [-l language] [-e script] [-i] [-s {ehso}] [programfile] [argument ...]");
  }
  if (std::string_view(argv[2]) != "JavaScript") {
    return fail(std::string("osascript: ") + argv[2] + ": no such component.");
  }
  const std::string_view script = argv[4];
  const bool isName = script == quillory::bridge::kLibraryNameScript;
  const bool isExport = script == quillory::bridge::kExportScript;
  if (!isName && !isExport) {
    return fail(
        "execution error: Error: the simulated Kettle Ledger answers only the helper's two scripts "
        "(-2700)");
  }

  const char* dir = std::getenv("KETTLE_LEDGER_SIM_DIR");
  std::error_code ec;
  if (dir == nullptr || *dir == '\0' || !fs::is_directory(dir, ec)) {
    return fail("execution error: Error: Application can't be found. (-2700)");
  }
  const fs::path state(dir);

  if (fs::exists(state / "not-authorized", ec)) {
    return fail("execution error: Not authorized to send Apple events to Kettle Ledger. (-1743)");
  }
  if (fs::exists(state / "not-running", ec)) {
    return writeAll("\n") ? 0 : kFailure;
  }
  return isName ? answerName(state) : answerExport(state);
}
