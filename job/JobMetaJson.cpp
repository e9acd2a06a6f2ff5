#include "job/JobMetaJson.h"

#include <algorithm>
#include <cctype>

#include "record/JsonText.h"

namespace voltrix {

std::optional<JobMeta> jobMetaOfJson(std::string_view body, std::string& error) {
  const JsonDocument job = JsonDocument::parse(body, nullptr, false);
  if (!job.is_object()) {
    error = "the line's job is not a JSON object";
    return std::nullopt;
  }
  const auto member = [&job](const char* name) -> const JsonDocument* {
    const auto found = job.find(name);
    return found == job.end() ? nullptr : &*found;
  };
  const auto wrong = [&error](const char* what) {
    error = std::string("the line's job has ") + what;
    return std::nullopt;
  };
  const JsonDocument *id = member("id"), *name = member("name"), *sha256 = member("sha256"),
                     *size = member("size"), *signature = member("signature"),
                     *remaining = member("remaining");
  if (id == nullptr || !id->is_number_integer()) return wrong("no id");
  if (name == nullptr || !name->is_string()) return wrong("no name");
  if (sha256 == nullptr || !sha256->is_string() || !isSha256Hex(sha256->get<std::string>())) {
    return wrong("no sha256 of 64 hex digits");
  }
  if (size == nullptr || !size->is_number_unsigned()) return wrong("no size");
  if (signature == nullptr || !signature->is_string()) return wrong("no signature");
  if (remaining != nullptr && !remaining->is_null() && !remaining->is_number_integer()) {
    return wrong("a remaining count that is no number");
  }
  JobMeta meta;
  meta.id = id->get<std::int64_t>();
  meta.name = name->get<std::string>();
  if (!isJobName(meta.name)) return wrong("a name that is empty, too long or not one line");
  meta.sha256 = sha256->get<std::string>();
  std::transform(meta.sha256.begin(), meta.sha256.end(), meta.sha256.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  meta.size = size->get<std::uint64_t>();
  meta.signature = signature->get<std::string>();
  if (remaining != nullptr && !remaining->is_null()) {
    meta.remaining = std::max<std::int64_t>(0, remaining->get<std::int64_t>());
  }
  return meta;
}

}  // namespace voltrix
