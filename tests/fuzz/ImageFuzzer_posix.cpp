// libFuzzer target: arbitrary bytes as the system image, through the table
// load, the extraction of every segment it finds and the comparison of the
// write file with its read-back copies. Each property checked here is one a
// download run relies on; a broken one aborts, so libFuzzer keeps the input.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileIo.h"
#include "engine/ImageFileOps.h"

namespace voltrix {
namespace {

using Bytes = std::vector<std::uint8_t>;

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

// One private directory for the whole run, made before the first input and
// removed when the fuzzer exits normally.
class Scratch {
 public:
  Scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp");
    pattern += "/voltrix-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    check(::mkdtemp(buffer.data()) != nullptr, "a scratch directory can be made");
    dir_ = buffer.data();
  }
  ~Scratch() {
    for (const char* name : kNames) ::unlink(path(name).c_str());
    ::rmdir(dir_.c_str());
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  std::string path(const char* name) const { return dir_ + "/" + name; }

 private:
  static constexpr const char* kNames[] = {"image", "write", "same", "short", "differs"};
  std::string dir_;
};

const Scratch& scratch() {
  static const Scratch instance;
  return instance;
}

void store(const std::string& path, const std::uint8_t* bytes, std::size_t size) {
  File file = createFreshFile(path);
  check(file && file.writeFully(bytes, size), "a scratch file can be written");
}

std::optional<Bytes> load(const std::string& path) {
  File file = openForReading(path);
  if (!file) return std::nullopt;
  Bytes bytes;
  std::uint8_t block[4096];
  for (;;) {
    const long long got = file.readFully(block, sizeof block);
    check(got >= 0, "a scratch file can be read");
    if (got == 0) return bytes;
    bytes.insert(bytes.end(), block, block + got);
  }
}

std::int32_t biased24(const std::uint8_t* p) {
  return ((std::int32_t{p[0]} << 16) | (std::int32_t{p[1]} << 8) | p[2]) - 0x10101;
}

// The record offsets the load must report, found by walking the chain here
// independently: a header must lie within the file, a record is visited once,
// and a next offset that is negative or at the file's end stops the walk.
std::optional<std::vector<std::uint32_t>> expectedSegments(const std::uint8_t* data,
                                                           std::size_t size) {
  std::vector<std::uint32_t> segments;
  std::vector<bool> seen(size, false);
  std::int64_t offset = 0;
  while (offset >= 0 && static_cast<std::uint64_t>(offset) + HEADER_BYTES_READ <= size &&
         !seen[static_cast<std::size_t>(offset)]) {
    seen[static_cast<std::size_t>(offset)] = true;
    const std::uint8_t* record = data + offset;
    if (record[SKIP_FLAG_AT] != SKIP_RECORD) {
      if (segments.size() == MAX_SEGMENTS) return std::nullopt;
      segments.push_back(static_cast<std::uint32_t>(offset));
    }
    offset = biased24(record + NEXT_OFFSET_AT);
  }
  return segments;
}

// Extracts one segment and, when that succeeds, compares the write file with
// a faithful read-back, a short one and one with a single byte changed.
void checkSegment(const std::uint8_t* data, std::size_t size, std::uint32_t offset,
                  std::uint32_t length) {
  const Scratch& files = scratch();
  const std::string image = files.path("image"), write = files.path("write");
  ::unlink(write.c_str());
  ImageFileOps ops;
  const int result = ops.extractSegment(image, write, offset, length);
  const std::uint64_t end = std::uint64_t{offset} + RECORD_HEADER_SIZE + length;
  check(result != EXTRACT_CANNOT_OPEN, "a readable image in a writable directory extracts");
  if (end > size) {
    check(result == EXTRACT_IMAGE_TOO_SHORT, "data past the image's end are refused");
    check(!load(write).has_value(), "a refused segment leaves no write file");
    return;
  }
  check(result == EXTRACT_OK, "data within the image are extracted");
  const std::optional<Bytes> written = load(write);
  check(written.has_value() && written->size() == length, "the write file holds the length");
  Bytes readBack(length);
  for (std::uint32_t i = 0; i < length; ++i) {
    const std::uint8_t s = data[offset + RECORD_HEADER_SIZE + i];
    check((*written)[i] == transformByte(s), "the write file holds the transformed data");
    readBack[i] = s;
  }
  store(files.path("same"), readBack.data(), readBack.size());
  check(ops.compareSegmentFiles(write, files.path("same")) == COMPARE_EQUAL,
        "a faithful read-back compares equal");
  if (length == 0) return;
  store(files.path("short"), readBack.data(), readBack.size() - 1);
  check(ops.compareSegmentFiles(write, files.path("short")) == COMPARE_DIFFERENT,
        "a read-back one byte short differs");
  readBack[length / 2] ^= 0x01;
  store(files.path("differs"), readBack.data(), readBack.size());
  check(ops.compareSegmentFiles(write, files.path("differs")) == COMPARE_DIFFERENT,
        "a read-back with one changed byte differs");
}

void checkImage(const std::uint8_t* data, std::size_t size) {
  const std::string image = scratch().path("image");
  store(image, data, size);

  constexpr std::int32_t kUntouched = 0x7EADBEEF;
  SegmentColumn offsets, addresses, lengths;
  offsets.fill(kUntouched);
  addresses.fill(kUntouched);
  lengths.fill(kUntouched);
  ImageFileOps ops;
  const std::int32_t count = ops.loadSegmentTable(image, offsets, addresses, lengths);
  check(count >= LOAD_READ_ERROR && count <= MAX_SEGMENTS, "the load result is in range");
  check(count != LOAD_CANNOT_OPEN && count != LOAD_READ_ERROR, "a readable image loads");

  const auto expected = expectedSegments(data, size);
  const std::size_t filled = count < 0 ? 0 : static_cast<std::size_t>(count);
  if (!expected) {
    check(count == LOAD_TOO_MANY_SEGMENTS, "more than 128 segments are refused");
  } else {
    check(filled == expected->size(), "the count is the chain's segment count");
  }
  for (std::size_t i = 0; i < filled; ++i) {
    const auto at = static_cast<std::uint32_t>(offsets[i]);
    check(offsets[i] >= 0 && at < size, "every offset lies within the file");
    check(at == (*expected)[i], "entries follow the chain");
    check(addresses[i] == biased24(data + at + LOAD_ADDRESS_AT), "the address is the header's");
    check(lengths[i] == biased24(data + at + DATA_LENGTH_AT), "the length is the header's");
  }
  for (std::size_t i = filled; i < MAX_SEGMENTS; ++i) {
    check(offsets[i] == kUntouched && addresses[i] == kUntouched && lengths[i] == kUntouched,
          "entries past the count are left alone");
  }

  for (std::size_t i = 0; i < filled; ++i) {
    checkSegment(data, size, static_cast<std::uint32_t>(offsets[i]),
                 static_cast<std::uint32_t>(lengths[i]));
  }
  // Callers may pass any position; the input's last eight bytes pick one so
  // that the bounds test also meets offsets and lengths no header holds.
  if (size >= 8) {
    const std::uint8_t* tail = data + size - 8;
    const auto word = [](const std::uint8_t* p) {
      return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
             std::uint32_t{p[3]} << 24;
    };
    checkSegment(data, size, word(tail), word(tail + 4));
  }

  const std::optional<Bytes> after = load(image);
  check(
      after.has_value() && after->size() == size && std::equal(after->begin(), after->end(), data),
      "the image is never modified");
}

}  // namespace
}  // namespace voltrix

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  voltrix::checkImage(data, size);
  return 0;
}
