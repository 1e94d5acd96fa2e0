// Times one export from the script's output text to the document pairs on
// disk, with three destinations (the container Documents folder and two app
// containers) and durable atomic writes, beside a plain atomic copy of the
// export text to the same three folders in the same run. Peak memory is
// measured in a fresh child process that runs one export.
//
//   publish_bench [--shape NAME]... [--items N] [--rounds N]
//
// Shapes (SyntheticExport.h): receipts, dropped-strings, kept-numbers,
// tiny-values; all four unless --shape names some. For each it prints the
// export size, the median times and throughputs, the ratio of the pipeline's
// time to the plain copy's, and the child's peak resident memory divided by
// the export size.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "SyntheticExport.h"
#include "libraries/NameConflicts.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Log.h"
#include "publish/ContainerPaths.h"
#include "publish/Destinations.h"
#include "publish/DocumentTransform.h"

namespace {

namespace fs = std::filesystem;
namespace files = quillory::platform::files;
using namespace quillory;

class NullLog final : public platform::Log {
 public:
  void line(const std::string&) override {}
};

class SystemTime final : public platform::Clock {
 public:
  platform::Date now() const override { return std::chrono::system_clock::now(); }
  platform::MonotonicTime monotonicNow() const override { return std::chrono::steady_clock::now(); }
  void sleepFor(std::chrono::milliseconds) override {}
};

struct Harness {
  explicit Harness(fs::path homeFolder) : home(std::move(homeFolder)) {
    for (const char* container : {"test.quillory.mobile", "test.quillory.mobile.widget"}) {
      const fs::path preferences = home / "Library/Containers" / container / "Data/Library/Preferences";
      files::createFolders(preferences);
      files::atomicWrite(preferences / "test.quillory.mobile.plist", "plist");
    }
  }

  // One export as the helper runs it once the library's name is known and
  // publishing is allowed: the transform, the conflict test, the writes.
  int exportOnce(std::string text) {
    const std::string name = "Business EUR";
    const publish::PreparedExport prepared = publish::prepareExport(text, name, clock);
    std::string().swap(text);  // freed before writing, as the helper does
    const fs::path target = publish::containerDocumentsFolder(home) / (prepared.libraryFilename + ".json");
    if (libraries::conflictingLibrary(target, prepared.libraryPath, name)) return 0;
    const publish::PublishRequest request{prepared.documentBytes.pieces(), prepared.markerBytes,
                                          prepared.libraryFilename, prepared.currencyFileToken};
    return publish::publishDocument(home, request, log);
  }

  std::vector<fs::path> destinationFolders() const {
    return {home / "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents",
            home / "Library/Containers/test.quillory.mobile/Data/Documents",
            home / "Library/Containers/test.quillory.mobile.widget/Data/Documents"};
  }

  fs::path home;
  NullLog log;
  SystemTime clock;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long peakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Child mode: read the export from a file, run one export, print the peak
// resident size before and after in kilobytes.
int peakRun(const fs::path& exportFile, const fs::path& home) {
  std::string text = files::readFile(exportFile).value_or("");
  const long beforeKb = peakKilobytes();
  Harness harness(home);
  const int count = harness.exportOnce(std::move(text));
  std::printf("%ld %ld %d\n", beforeKb, peakKilobytes(), count);
  return 0;
}

struct ShapeName {
  const char* name;
  bench::ExportKind kind;
};
constexpr ShapeName kShapes[] = {{"receipts", bench::ExportKind::receipts},
                                 {"dropped-strings", bench::ExportKind::droppedStrings},
                                 {"kept-numbers", bench::ExportKind::keptNumbers},
                                 {"tiny-values", bench::ExportKind::tinyValues}};

// Measures one export shape; false when the pipeline did not publish.
bool benchShape(const ShapeName& which, std::size_t items, int rounds, const fs::path& scratch) {
  bench::SyntheticExportShape shape;
  shape.kind = which.kind;
  shape.items = items != 0 ? items : bench::defaultItems(which.kind);
  const std::string text = bench::syntheticExport(shape);
  const double megabytes = static_cast<double>(text.size()) / 1e6;
  std::printf("== %s\n", which.name);

  Harness harness(scratch / "home");
  std::vector<double> pipeline;
  std::vector<double> copy;
  std::vector<double> transform;
  std::vector<double> transformCpu;
  std::vector<double> conflictTest;
  std::vector<double> writes;
  std::size_t documentSize = 0;
  for (int round = 0; round < rounds; ++round) {
    std::string input = text;  // the script's output, made before the clock starts
    auto start = std::chrono::steady_clock::now();
    const int destinations = harness.exportOnce(std::move(input));
    pipeline.push_back(secondsSince(start));
    documentSize = fs::file_size(harness.destinationFolders()[0] / "business-eur.json");
    if (destinations != 3) {
      std::fprintf(stderr, "expected 3 destinations, got %d\n", destinations);
      return false;
    }

    start = std::chrono::steady_clock::now();
    const double cpuStart = threadCpuSeconds();
    const auto prepared = publish::prepareExport(text, std::string("Business EUR"), harness.clock);
    transform.push_back(secondsSince(start));
    transformCpu.push_back(threadCpuSeconds() - cpuStart);

    start = std::chrono::steady_clock::now();
    const fs::path target = harness.destinationFolders()[0] / (prepared.libraryFilename + ".json");
    if (libraries::conflictingLibraryPath(target, prepared.libraryPath)) return false;
    conflictTest.push_back(secondsSince(start));

    start = std::chrono::steady_clock::now();
    const publish::PublishRequest request{prepared.documentBytes.pieces(), prepared.markerBytes,
                                          prepared.libraryFilename, prepared.currencyFileToken};
    if (publish::publishDocument(harness.home, request, harness.log) != 3) return false;
    writes.push_back(secondsSince(start));

    start = std::chrono::steady_clock::now();
    for (const fs::path& folder : harness.destinationFolders()) {
      if (files::atomicWrite(folder / "plain-copy.json", text)) return false;
    }
    copy.push_back(secondsSince(start));
  }

  // Peak memory of one export in a fresh process.
  const fs::path exportFile = scratch / "export.json";
  files::atomicWrite(exportFile, text);
  const std::string command = "\"" + fs::read_symlink("/proc/self/exe").string() + "\" --peak-run \"" +
                              exportFile.string() + "\" \"" + (scratch / "peak-home").string() + "\"";
  long beforeKb = 0, peakKb = 0;
  int peakCount = 0;
  if (FILE* child = popen(command.c_str(), "r")) {
    if (std::fscanf(child, "%ld %ld %d", &beforeKb, &peakKb, &peakCount) != 3) peakKb = 0;
    pclose(child);
  }

  const double pipelineSeconds = median(pipeline);
  const double copySeconds = median(copy);
  const double exportBytes = static_cast<double>(text.size());
  std::printf(
      "export: %zu items, %.1f MB; published document %.1f MB (x1 + x2 "
      "pairs in 2 app containers)\n",
      shape.items, megabytes, static_cast<double>(documentSize) / 1e6);
  std::printf("rounds: %d (median)\n", rounds);
  std::printf(
      "pipeline:   %.3f s  %.0f MB/s  (script output -> 3 "
      "destinations, durable atomic writes)\n",
      pipelineSeconds, megabytes / pipelineSeconds);
  std::printf(
      "plain copy: %.3f s  %.0f MB/s  (export text atomically to the "
      "same 3 folders)\n",
      copySeconds, megabytes / copySeconds);
  std::printf(
      "in-memory transform alone (parse, derive, write JSON): %.3f s  "
      "%.0f MB/s; CPU %.3f s  %.0f MB/s\n",
      median(transform), megabytes / median(transform), median(transformCpu),
      megabytes / median(transformCpu));
  std::printf(
      "name-conflict test alone (reads and parses the existing "
      "document): %.3f s\n",
      median(conflictTest));
  std::printf(
      "destination writes alone (5 documents + 5 markers, durable "
      "atomic): %.3f s  %.0f MB/s written\n",
      median(writes), 5 * static_cast<double>(documentSize) / 1e6 / median(writes));
  std::printf("ratio pipeline/plain-copy time: %.2f\n", pipelineSeconds / copySeconds);
  std::printf(
      "peak memory: %.1f MB = %.2f x export size (export text alone: "
      "%.1f MB = %.2f x)\n",
      static_cast<double>(peakKb) * 1024 / 1e6, static_cast<double>(peakKb) * 1024 / exportBytes,
      static_cast<double>(beforeKb) * 1024 / 1e6, static_cast<double>(beforeKb) * 1024 / exportBytes);
  return peakCount == 3;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t items = 0;
  int rounds = 7;
  std::vector<ShapeName> shapes;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--peak-run" && i + 2 < argc) return peakRun(argv[i + 1], argv[i + 2]);
    if (argument == "--items" && i + 1 < argc) items = std::stoul(argv[++i]);
    if (argument == "--rounds" && i + 1 < argc) rounds = std::stoi(argv[++i]);
    if (argument == "--shape" && i + 1 < argc) {
      const std::string name = argv[++i];
      for (const ShapeName& shape : kShapes) {
        if (name == shape.name) shapes.push_back(shape);
      }
    }
  }
  if (shapes.empty()) shapes.assign(std::begin(kShapes), std::end(kShapes));

  char pattern[] = "/tmp/publish-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path scratch = pattern;
  bool published = true;
  for (const ShapeName& shape : shapes) {
    published = benchShape(shape, items, rounds, scratch) && published;
    fs::remove_all(scratch / "home");
    fs::remove_all(scratch / "peak-home");
  }
  fs::remove_all(scratch);
  double load[1] = {0};
  getloadavg(load, 1);
  std::printf("machine: %ld cores online, load average %.1f\n", sysconf(_SC_NPROCESSORS_ONLN), load[0]);
  return published ? 0 : 1;
}
