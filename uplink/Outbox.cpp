#include "uplink/Outbox.h"

#include <fstream>

#include "platform/DurableFile.h"
#include "platform/Utf8Path.h"
#include "record/JsonText.h"

namespace voltrix::uplink {

namespace {

constexpr std::size_t kReadSize = 1 << 16;

bool blank(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

std::string endTimeOf(const std::string& line) {
  const JsonDocument record = JsonDocument::parse(line, nullptr, false);
  if (record.is_object() && record.contains("end") && record["end"].is_string()) {
    return record["end"].get<std::string>();
  }
  return "";
}

// Calls `take(line, end)` for each whole line from `from` up to `to`, until
// it returns false.
template <typename Take>
void readLines(const std::string& path, std::uint64_t from, std::uint64_t to, Take take) {
  std::ifstream in(pathFromUtf8(path), std::ios::binary);
  if (!in || from >= to) return;
  in.seekg(static_cast<std::streamoff>(from));
  std::string line;
  std::uint64_t at = from;
  std::string buffer(kReadSize, '\0');
  while (at < to && in) {
    const auto want = static_cast<std::streamsize>(std::min<std::uint64_t>(kReadSize, to - at));
    in.read(buffer.data(), want);
    const auto got = static_cast<std::size_t>(in.gcount());
    for (std::size_t i = 0; i < got; ++i) {
      ++at;
      if (buffer[i] != '\n') {
        line += buffer[i];
        continue;
      }
      if (!take(line, at)) return;
      line.clear();
    }
    if (got == 0) return;
  }
}

}  // namespace

Outbox::Outbox(std::string logPath)
    : logPath_(std::move(logPath)), progressPath_(logPath_ + ".line-sent") {
  loadProgress();
}

void Outbox::loadProgress() {
  std::ifstream in(pathFromUtf8(progressPath_), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const JsonDocument saved = JsonDocument::parse(text, nullptr, false);
  const auto log = fileIdentity(logPath_);
  if (!log) return;
  identity_ = *log;
  known_ = true;
  if (!saved.is_object() || !saved.contains("offset") || !saved["offset"].is_number_unsigned() ||
      saved.value("device", std::uint64_t{0}) != log->device ||
      saved.value("inode", std::uint64_t{0}) != log->inode) {
    return;
  }
  const auto offset = saved["offset"].get<std::uint64_t>();
  if (offset > log->size) return;
  // The byte before it ends a line, or this is not where it was.
  if (offset > 0) {
    std::ifstream logIn(pathFromUtf8(logPath_), std::ios::binary);
    logIn.seekg(static_cast<std::streamoff>(offset - 1));
    char before = 0;
    if (!logIn.get(before) || before != '\n') return;
  }
  sent_ = counted_ = offset;
}

void Outbox::follow() {
  const auto log = fileIdentity(logPath_);
  if (!log) {
    known_ = false;
    sent_ = counted_ = countedLines_ = 0;
    oldest_.clear();
    return;
  }
  const bool same = known_ && log->device == identity_.device && log->inode == identity_.inode &&
                    log->size >= counted_ && log->size >= sent_;
  identity_ = *log;
  known_ = true;
  if (!same) {
    sent_ = counted_ = countedLines_ = 0;
    oldest_.clear();
  }
}

Outbox::Batch Outbox::next(std::size_t maxLines, std::size_t maxBytes, std::uint64_t readableTo) {
  follow();
  Batch batch;
  batch.end = sent_;
  std::size_t bytes = 0;
  readLines(logPath_, sent_, std::min(readableTo, identity_.size),
            [&](std::string& line, std::uint64_t end) {
              if (blank(line)) {
                batch.end = end;
                return true;
              }
              if (!batch.lines.empty() && bytes + line.size() + 1 > maxBytes) return false;
              bytes += line.size() + 1;
              batch.lines.push_back({std::move(line), end});
              batch.end = end;
              return batch.lines.size() < maxLines;
            });
  return batch;
}

bool Outbox::markSent(std::uint64_t offset, std::string& error) {
  JsonDocument progress;
  progress["log"] = logPath_;
  progress["device"] = identity_.device;
  progress["inode"] = identity_.inode;
  progress["offset"] = offset;
  const std::string text = jsonLine(progress) + "\n";
  if (!writeFileDurably(progressPath_,
                        {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, 0644,
                        Replace::Allowed, error)) {
    return false;
  }
  // The lines counted before `offset` are no longer waiting.
  if (offset >= counted_) {
    counted_ = offset;
    countedLines_ = 0;
  } else {
    readLines(logPath_, sent_, offset, [&](const std::string& line, std::uint64_t) {
      if (!blank(line) && countedLines_ > 0) --countedLines_;
      return true;
    });
  }
  sent_ = offset;
  oldest_.clear();
  return true;
}

Outbox::Waiting Outbox::waiting(std::uint64_t readableTo) {
  follow();
  const std::uint64_t to = std::min(readableTo, identity_.size);
  if (to > counted_) {
    readLines(logPath_, counted_, to, [&](const std::string& line, std::uint64_t end) {
      if (!blank(line)) ++countedLines_;
      counted_ = end;
      return true;
    });
  }
  if (countedLines_ > 0 && oldest_.empty()) {
    readLines(logPath_, sent_, counted_, [&](const std::string& line, std::uint64_t) {
      if (blank(line)) return true;
      oldest_ = endTimeOf(line);
      return false;
    });
  }
  return {countedLines_, counted_ - sent_, countedLines_ > 0 ? oldest_ : std::string()};
}

}  // namespace voltrix::uplink
