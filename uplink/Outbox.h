#pragma once
// The records a station still owes the line: its own JSONL log beyond a
// "sent up to" offset, kept in a small file beside the log (LOG.line-sent)
// that is replaced durably after each batch the line took. Nothing is
// copied: the log is the outbox, so it survives restarts and kills and is
// bounded by the disk only. A log replaced or cut short is sent again from
// its start; the line keeps each record once by its id.
//
// Used by one thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "record/FileIdentity.h"

namespace voltrix::uplink {

class Outbox {
 public:
  explicit Outbox(std::string logPath);

  // The log's lines after the offset sent, at most `maxLines` and about
  // `maxBytes` (a first line longer than that comes alone), only whole
  // lines within the first `readableTo` bytes of the log. Blank lines are
  // passed over, never sent.
  struct Line {
    std::string text;   // without its line break
    std::uint64_t end;  // the offset just after its line break
  };
  struct Batch {
    std::vector<Line> lines;
    // Where the offset goes once these lines are sent: past the last one,
    // or past blank lines alone.
    std::uint64_t end = 0;
  };
  Batch next(std::size_t maxLines, std::size_t maxBytes, std::uint64_t readableTo);

  // The line holds everything up to `offset`: kept in the progress file.
  bool markSent(std::uint64_t offset, std::string& error);

  struct Waiting {
    std::uint64_t records = 0;  // whole, non-blank lines
    std::uint64_t bytes = 0;
    std::string oldest;  // the first one's "end" time, when it has one
  };
  // What waits within the first `readableTo` bytes of the log.
  Waiting waiting(std::uint64_t readableTo);

  // How far the line has taken the log.
  std::uint64_t sent() const { return sent_; }

 private:
  // Follows the log: a new file or one cut short starts over at 0.
  void follow();
  void loadProgress();

  const std::string logPath_, progressPath_;
  FileIdentity identity_{};
  bool known_ = false;  // identity_ is the log's
  std::uint64_t sent_ = 0;
  // Counted so far: the whole lines between `sent_` and `counted_`.
  std::uint64_t counted_ = 0;
  std::uint64_t countedLines_ = 0;
  std::string oldest_;
};

}  // namespace voltrix::uplink
