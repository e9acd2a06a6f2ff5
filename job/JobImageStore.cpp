#include "job/JobImageStore.h"

#include <filesystem>
#include <system_error>

#include "platform/DurableFile.h"
#include "record/JsonText.h"

namespace voltrix {

namespace {

constexpr const char* kNoteName = "last-good-job.json";
// The line takes images of at most 64 MiB.
constexpr std::uint64_t kImageLimit = 64ull * 1024 * 1024;
constexpr std::uint64_t kNoteLimit = 64 * 1024;

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::optional<JobMeta> metaOfNote(const std::string& text) {
  const JsonDocument note = JsonDocument::parse(text, nullptr, false);
  if (!note.is_object()) return std::nullopt;
  const auto field = [&note](const char* name) { return note.find(name); };
  JobMeta meta;
  const auto id = field("id"), name = field("name"), sha256 = field("sha256"), size = field("size"),
             signature = field("signature");
  if (id == note.end() || !id->is_number_integer() || name == note.end() || !name->is_string() ||
      sha256 == note.end() || !sha256->is_string() || size == note.end() ||
      !size->is_number_unsigned() || signature == note.end() || !signature->is_string()) {
    return std::nullopt;
  }
  meta.id = id->get<std::int64_t>();
  meta.name = name->get<std::string>();
  meta.sha256 = sha256->get<std::string>();
  meta.size = size->get<std::uint64_t>();
  meta.signature = signature->get<std::string>();
  if (!isSha256Hex(meta.sha256)) return std::nullopt;
  return meta;
}

}  // namespace

JobImageStore::JobImageStore(std::string folder) : folder_(std::move(folder)) {}

std::string JobImageStore::imagePath(const std::string& sha256) const {
  return folder_ + "/" + sha256 + ".bin";
}

std::string JobImageStore::notePath() const {
  return folder_ + "/" + kNoteName;
}

std::optional<std::string> JobImageStore::writeImage(std::span<const std::uint8_t> bytes,
                                                     const JobMeta& meta, std::string& error) {
  // The name comes from the hash alone: nothing the line sends picks a path.
  if (!isSha256Hex(meta.sha256) || sha256Hex(bytes) != meta.sha256) {
    error = "the image to keep is not the one its sha256 names";
    return std::nullopt;
  }
  std::error_code made;
  std::filesystem::create_directories(folder_, made);
  if (made) {
    error = "cannot make the folder " + folder_ + ": " + made.message();
    return std::nullopt;
  }
  const std::string path = imagePath(meta.sha256);
  if (!writeFileDurably(path, bytes, 0644, Replace::Allowed, error)) return std::nullopt;
  return path;
}

bool JobImageStore::remember(const JobMeta& meta, std::string& error) {
  JsonDocument note = JsonDocument::object();
  note["id"] = meta.id;
  note["name"] = meta.name;
  note["sha256"] = meta.sha256;
  note["size"] = meta.size;
  note["signature"] = meta.signature;
  const std::string text = jsonLine(note) + "\n";
  if (!writeFileDurably(notePath(), bytesOf(text), 0644, Replace::Allowed, error)) return false;
  // The images of earlier jobs are no longer needed by anything.
  // Stepped with error codes: a folder that changes underneath is no
  // reason to fail, and nothing here throws.
  std::error_code failed;
  std::vector<std::filesystem::path> earlier;
  for (std::filesystem::directory_iterator entry(folder_, failed), end; !failed && entry != end;
       entry.increment(failed)) {
    const std::string name = entry->path().filename().string();
    if (name.size() == 68 && name.ends_with(".bin") && name != meta.sha256 + ".bin") {
      earlier.push_back(entry->path());
    }
  }
  for (const std::filesystem::path& path : earlier) std::filesystem::remove(path, failed);
  return true;
}

void JobImageStore::forget(const JobMeta& meta) {
  if (!isSha256Hex(meta.sha256)) return;
  std::string error;
  // The last good job's image stays whatever happens.
  if (const auto note = readFileWhole(notePath(), kNoteLimit, error)) {
    const auto kept = metaOfNote(std::string(note->begin(), note->end()));
    if (kept && kept->sha256 == meta.sha256) return;
  }
  std::error_code ignored;
  std::filesystem::remove(imagePath(meta.sha256), ignored);
}

JobImageStore::Restored JobImageStore::restore(const std::vector<PublicKey>& trustedKeys) const {
  Restored restored;
  std::error_code exists;
  if (!std::filesystem::exists(notePath(), exists)) return restored;
  std::string error;
  const auto note = readFileWhole(notePath(), kNoteLimit, error);
  if (!note) {
    restored.problem = error;
    return restored;
  }
  auto meta = metaOfNote(std::string(note->begin(), note->end()));
  if (!meta) {
    restored.problem = notePath() + ": not a note of a job";
    return restored;
  }
  auto bytes = readFileWhole(imagePath(meta->sha256), kImageLimit, error);
  if (!bytes) {
    restored.problem = error;
    return restored;
  }
  const JobVerdict verdict =
      verifyJob(*bytes, meta->size, meta->sha256, meta->signature, trustedKeys);
  if (!verdict.ok()) {
    restored.problem = "job " + meta->name + " kept on the disk: " + verdict.text;
    return restored;
  }
  restored.imagePath = imagePath(meta->sha256);
  restored.bytes = std::move(*bytes);
  restored.meta = std::move(meta);
  return restored;
}

}  // namespace voltrix
