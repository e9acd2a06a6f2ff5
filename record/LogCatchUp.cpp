#include "record/LogCatchUp.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/Utf8Path.h"
#include "record/FileIdentity.h"

namespace voltrix {

namespace {

// Rows per transaction: few enough that a lock is not held long, many
// enough that a long log is not one commit per line.
constexpr std::size_t kLinesPerTransaction = 500;
constexpr std::size_t kReadSize = 1 << 16;
// A record is a few kilobytes at most; a longer line is no record, and is
// not held in memory whole.
constexpr std::size_t kLongestLine = 1 << 20;

std::string absoluteLogPath(const std::string& logPath) {
  std::error_code error;
  const auto path = std::filesystem::absolute(pathFromUtf8(logPath), error);
  return error ? logPath : utf8FromPath(path.lexically_normal());
}

// Where to go on reading: the saved offset when it still fits this file (the
// same file, at least that long, and the byte before it a line break).
std::uint64_t resumeOffset(const std::optional<LogProgress>& saved, const FileIdentity& file,
                           std::ifstream& in) {
  if (!saved || saved->device != file.device || saved->inode != file.inode ||
      saved->offset > file.size) {
    return 0;
  }
  if (saved->offset == 0) return 0;
  in.seekg(static_cast<std::streamoff>(saved->offset - 1));
  char before = 0;
  if (!in.get(before) || before != '\n') {
    in.clear();
    return 0;
  }
  return saved->offset;
}

}  // namespace

CatchUp catchUpFromLog(ResultsDb& db, const std::string& logPath) {
  CatchUp result;
  const auto file = fileIdentity(logPath);
  if (!file) return result;
  std::ifstream in(pathFromUtf8(logPath), std::ios::binary);
  if (!in) return result;

  LogProgress progress;
  progress.logPath = absoluteLogPath(logPath);
  progress.device = file->device;
  progress.inode = file->inode;
  const auto saved = db.logProgress(progress.logPath, result.error);
  if (result.error.kind != ResultsDbFailure::None) {
    result.ok = false;
    return result;
  }
  progress.offset = resumeOffset(saved, *file, in);
  if (progress.offset > 0) progress.skippedLines = saved->skippedLines;
  in.seekg(static_cast<std::streamoff>(progress.offset));

  std::size_t inTransaction = 0;
  const auto fail = [&] {
    db.rollback();
    result.ok = false;
    return result;
  };
  // The lines of this transaction end at `pending`; committed with it.
  std::uint64_t pending = progress.offset;
  std::string line;
  std::uint64_t lineLength = 0;
  std::vector<char> buffer(kReadSize);
  bool inTx = false;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    for (std::size_t at = 0; at < got; ++at) {
      if (buffer[at] != '\n') {
        if (++lineLength <= kLongestLine) line += buffer[at];
        continue;
      }
      pending += lineLength + 1;
      // Cut short, it fails to parse and is counted as no record.
      if (lineLength > kLongestLine) line = "(too long)";
      if (!inTx) {
        if (!db.begin(result.error)) return fail();
        inTx = true;
      }
      switch (db.insertRecord(line, result.error)) {
        case ResultsDb::Insert::Added:
          ++result.added;
          break;
        case ResultsDb::Insert::Known:
          ++result.known;
          break;
        case ResultsDb::Insert::NotARecord:
          // A blank line is no record but no damage either.
          if (!line.empty()) {
            ++result.skipped;
            ++progress.skippedLines;
          }
          break;
        case ResultsDb::Insert::Failed:
          return fail();
      }
      line.clear();
      lineLength = 0;
      if (++inTransaction == kLinesPerTransaction) {
        progress.offset = pending;
        if (!db.saveLogProgress(progress, result.error) || !db.commit(result.error)) {
          return fail();
        }
        inTx = false;
        inTransaction = 0;
      }
    }
  }
  // A piece after the last line break is a record still being written, or
  // one torn: it is read again next time, not counted.
  if (!inTx && pending == progress.offset && saved && saved->offset == progress.offset &&
      saved->device == progress.device && saved->inode == progress.inode) {
    return result;
  }
  if (!inTx && !db.begin(result.error)) return fail();
  progress.offset = pending;
  if (!db.saveLogProgress(progress, result.error) || !db.commit(result.error)) return fail();
  return result;
}

}  // namespace voltrix
