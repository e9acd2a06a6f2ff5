#pragma once
// Brings the results database up to the JSONL log: every record of the log
// that the database lacks is inserted, by its id, so that running it twice,
// or after a process killed between the log's write and the database's,
// leaves each record once. How far the log was read is kept with the rows
// (in the same transactions) to spare re-reading a long log; it is only a
// shortcut: a log that was replaced or cut is read again from its start.

#include <cstdint>
#include <string>

#include "record/ResultsDb.h"

namespace voltrix {

struct CatchUp {
  bool ok = true;
  ResultsDbError error;     // when not ok
  std::uint64_t added = 0;  // records the database lacked
  std::uint64_t known = 0;  // records it had already
  // Lines read now that are not records (a torn line followed by more);
  // a last line without its line break is left for later, not counted.
  std::uint64_t skipped = 0;
};

// `logPath` as given; its absolute form names it in the database. A log
// that does not exist yet has nothing to catch up.
CatchUp catchUpFromLog(ResultsDb& db, const std::string& logPath);

}  // namespace voltrix
