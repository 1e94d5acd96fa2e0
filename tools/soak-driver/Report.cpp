#include "Report.h"

#include <iostream>

#include "Driver.h"

namespace quillory::soak {

bool report(const Counters& c, const Outcome& o) {
  std::cout << "[soak] ran " << o.minutes << " min (" << o.helperHours << " h of helper time)\n";
  std::cout << "[soak] driver: ticks=" << c.ticks << " syncRequests=" << c.syncRequests
            << " librarySwitches=" << c.switches << " hostQuits=" << c.quits
            << " hostRelaunches=" << c.relaunches << " activations=" << c.activations
            << " switchedOff=" << c.disables << " switchedOn=" << c.enables
            << " foldersRemoved=" << c.foldersRemoved << " checks=" << c.checksScheduled
            << " statusRefreshes=" << c.statusRefreshes << " (with a last-sync date " << c.refreshesWithDate
            << ")\n";
  std::cout << "[soak] helper log:";
  for (const auto& [key, n] : o.counts) std::cout << ' ' << key << '=' << n;
  long unexpectedFailures = 0;
  std::cout << "\n[soak] export failures by case:";
  for (const auto& [kind, n] : o.failures) {
    std::cout << ' ' << kind << '=' << n;
    // The host quitting (or not yet answering) and a library switch that the
    // engine has not settled yet are the scenario's doing; anything else is not.
    if (kind != "klNotResponding" && kind != "nameConflict") unexpectedFailures += n;
  }
  std::cout << "\n[soak] alerts:";
  for (const auto& [kind, n] : o.alerts) std::cout << ' ' << kind << '=' << n;
  const ReaderTotals& read = o.read;
  std::cout << "\n[soak] reader: passes=" << read.passes << " documentsRead=" << read.documentsRead
            << " markersRead=" << read.markersRead << " brokenDocuments=" << read.brokenDocuments
            << " brokenMarkers=" << read.brokenMarkers << " vanished=" << read.vanished
            << " temporaryFilesInFlight=" << read.temporarySeen << '\n';
  for (const std::string& problem : read.problems) std::cout << "[soak]   broken: " << problem << '\n';
  std::cout << "[soak] start: " << describe(o.start) << "\n[soak] end:   " << describe(o.finish) << '\n';
  std::cout << "[soak] temporary files left: " << o.leftovers
            << "; files outside the helper's folders: " << o.outside.size() << "; last sync "
            << (o.lastSyncOk ? "succeeded" : "FAILED")
            << " (libraries refused first by a name conflict: " << o.librariesInConflict << ")" << std::endl;
  for (const std::string& entry : o.outside)
    std::cout << "[soak]   outside: " << entry.substr(0, 200) << '\n';

  // Memory: the heap in use must not grow by more than a little (caches of
  // the Unicode library and the like fill up once); the resident size may
  // grow somewhat more, as the allocator keeps freed pages per thread arena.
  const bool flat = o.finish.fds <= o.start.fds + 2 && o.finish.threads <= o.start.threads + 2 &&
                    o.finish.zombies == 0 && o.finish.children == 0 &&
                    o.finish.heapKiB <= o.start.heapKiB + 1024 &&
                    o.finish.rssKiB <= o.start.rssKiB + 32 * 1024;
  const bool ok = read.brokenDocuments == 0 && read.brokenMarkers == 0 && unexpectedFailures == 0 &&
                  o.outside.empty() && o.leftovers == 0 && o.lastSyncOk && flat &&
                  o.counts.count("exportsOk") != 0;
  std::cout << "[soak] " << (ok ? "PASS" : "FAIL") << (flat ? "" : " (resources grew)") << std::endl;
  return ok;
}

}  // namespace quillory::soak
