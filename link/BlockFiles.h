#pragma once
// A segment's files taken block by block without a system call per block:
// the write file is read a few kilobytes at a time, and the read-back file
// is written the same way. What the protocol sees is the same as reading or
// writing each block on its own; only a write error may show a few blocks
// later, at the write that fails.

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/FileIo.h"

namespace voltrix {

inline constexpr std::size_t kBlockFileBuffer = 4096;

class BlockSource {
 public:
  explicit BlockSource(File& file) : file_(file) {}
  // Up to `length` bytes, fewer only at the end of the file; -1 on a read
  // error (what was buffered before it is still handed out first).
  long long read(std::uint8_t* block, std::size_t length);

 private:
  File& file_;
  std::array<std::uint8_t, kBlockFileBuffer> buffer_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;
  bool failed_ = false;
};

class BlockSink {
 public:
  explicit BlockSink(File& file) : file_(file) {}
  // On every way out, what came is on disk (a failed run's read-back file
  // shows how far it got); a failure here has nobody left to tell.
  ~BlockSink() { flush(); }
  BlockSink(const BlockSink&) = delete;
  BlockSink& operator=(const BlockSink&) = delete;
  // Keeps the bytes, writing out what was kept once the buffer is full;
  // false when that write failed.
  bool write(const std::uint8_t* block, std::size_t length);
  // Writes out whatever is kept; false when that failed. Called before the
  // last block is acknowledged, so that a full disk is still told in time.
  bool flush();

 private:
  File& file_;
  std::array<std::uint8_t, kBlockFileBuffer> buffer_{};
  std::size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace voltrix
