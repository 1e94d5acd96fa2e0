#pragma once
// The soak's end: what it saw, printed, and whether it passed.

#include <map>
#include <string>
#include <vector>

#include "MirrorReader.h"
#include "SoakFigures.h"

namespace quillory::soak {

struct Counters;

struct Outcome {
  double minutes = 0;                    // real time the soak ran
  double helperHours = 0;                // the same at the driver's speed
  std::map<std::string, long> counts;    // the helper's log lines by kind
  std::map<std::string, long> failures;  // failed exports by case
  std::map<std::string, long> alerts;    // alerts by the first word of their message
  ReaderTotals read;
  SoakFigures start;
  SoakFigures finish;
  long leftovers = 0;                // temporary files in the helper's folders once all is quiet
  std::vector<std::string> outside;  // entries outside the helper's folders that changed
  bool lastSyncOk = false;
  long librariesInConflict = 0;
};

// Prints the totals; true when the soak passed: no broken file seen, no
// unexpected failure, nothing left or changed outside the helper's
// folders, a last sync that worked, and no resource that grew.
bool report(const Counters& counters, const Outcome& outcome);

}  // namespace quillory::soak
