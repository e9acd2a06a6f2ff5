#include "line/LineJobs.h"

#include <libpq-fe.h>

#include <algorithm>
#include <memory>

#include "line/PgSession.h"
#include "record/JsonText.h"

namespace voltrix {

namespace {

// Taken by each publishing for its transaction (another than the schema's).
constexpr const char* kPublishLock = "7436172002";

// bytea as a text parameter: "\x" and two hex digits a byte.
std::string byteaText(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text = "\\x";
  text.reserve(2 + bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

std::string valueAt(const PGresult* result, int column) {
  return PQgetvalue(result, 0, column);
}

std::optional<std::int64_t> numberAt(const PGresult* result, int column) {
  if (PQgetisnull(result, 0, column)) return std::nullopt;
  return std::stoll(valueAt(result, column));
}

JsonDocument countOrNull(const std::optional<std::int64_t>& count) {
  return count ? JsonDocument(*count) : JsonDocument(nullptr);
}

}  // namespace

std::string publishedJobJson(const LineJob& job) {
  JsonDocument body = JsonDocument::object();
  body["id"] = job.id;
  body["name"] = job.name;
  body["sha256"] = job.sha256;
  body["size"] = job.size;
  return jsonLine(body);
}

std::string currentJobJson(const LineJobStatus& status) {
  JsonDocument body = JsonDocument::object();
  body["id"] = status.job.id;
  body["name"] = status.job.name;
  body["sha256"] = status.job.sha256;
  body["size"] = status.job.size;
  body["signature"] = status.job.signature;
  body["quota"] = countOrNull(status.job.quota);
  body["verified"] = status.verified;
  body["remaining"] = countOrNull(status.remaining);
  return jsonLine(body);
}

LineJobs::LineJobs(PgSession& session, std::vector<PublicKey> trustedKeys)
    : session_(session), trustedKeys_(std::move(trustedKeys)) {}

bool LineJobs::audit(const LinePublisher& publisher, const std::string& action,
                     const std::string& result, LineDbError& error) {
  return session_.run(
             "INSERT INTO control_audit(role, who, action, remote_address, result) "
             "VALUES($1, $2, $3, $4, $5)",
             {publisher.role, publisher.who, action, publisher.remoteAddress, result},
             "cannot audit the publishing of a job", error) != nullptr;
}

std::optional<LinePublish> LineJobs::publish(std::span<const std::uint8_t> image,
                                             const std::string& name,
                                             const std::string& signatureBase64,
                                             std::optional<std::int64_t> quota,
                                             const LinePublisher& publisher, LineDbError& error) {
  LinePublish published;
  const std::string sha256 = sha256Hex(image);
  if (!isJobName(name)) {
    published.verdict = {JobCheck::Malformed, "the job's name is empty, too long or not one line"};
  } else if (quota && *quota <= 0) {
    published.verdict = {JobCheck::Malformed, "the job's quota is not a positive number"};
  } else {
    published.verdict = verifyJob(image, image.size(), sha256, signatureBase64, trustedKeys_);
  }
  const std::string action = "publish job " + (isJobName(name) ? name : std::string("?")) + " (" +
                             sha256.substr(0, 8) + ")";
  if (!published.verdict.ok()) {
    if (!audit(publisher, action, std::string("refused: ") + jobCheckName(published.verdict.check),
               error)) {
      return std::nullopt;
    }
    return published;
  }
  if (!session_.begin("BEGIN", error)) return std::nullopt;
  const auto fail = [this] {
    session_.rollback();
    return std::nullopt;
  };
  // Two engineers publishing at once take turns: otherwise the second
  // would fail on the one-current index instead of following the first.
  if (!session_.run("SELECT pg_advisory_xact_lock($1::bigint)", {kPublishLock},
                    "cannot lock the jobs", error) ||
      !session_.run("UPDATE jobs SET current = false WHERE current", {},
                    "cannot retire the current job", error)) {
    return fail();
  }
  const PgResult inserted = session_.run(
      "INSERT INTO jobs(name, sha256, signature, size, created_by, quota, image, current) "
      "VALUES($1, $2, $3, $4::bigint, $5, $6::bigint, $7::bytea, true) RETURNING id",
      {name, sha256, signatureBase64, std::to_string(image.size()), publisher.who,
       quota ? std::optional(std::to_string(*quota)) : std::nullopt, byteaText(image)},
      "cannot store the job", error);
  if (!inserted || !audit(publisher, action, "ok", error) || !session_.commit(error)) {
    return fail();
  }
  published.job = LineJob{std::stoll(valueAt(inserted.get(), 0)),
                          name,
                          sha256,
                          image.size(),
                          signatureBase64,
                          quota,
                          publisher.who};
  return published;
}

std::optional<LineJobStatus> LineJobs::current(LineDbError& error) {
  error = {};
  // The quota counts the runs that ended (or, never ended, started) since
  // the job was published, with its image, verified.
  const PgResult row = session_.run(
      "SELECT j.id, j.name, j.sha256, j.size, j.signature, j.quota, coalesce(j.created_by, ''), "
      "(SELECT count(*) FROM runs r WHERE r.image_sha256 = j.sha256 AND r.exit_code = 0 "
      "AND coalesce(r.\"end\", r.start) >= j.created_at) "
      "FROM jobs j WHERE j.current",
      {}, "cannot read the current job", error);
  if (!row || PQntuples(row.get()) == 0) return std::nullopt;
  LineJobStatus status;
  status.job.id = std::stoll(valueAt(row.get(), 0));
  status.job.name = valueAt(row.get(), 1);
  status.job.sha256 = valueAt(row.get(), 2);
  status.job.size = std::stoull(valueAt(row.get(), 3));
  status.job.signature = valueAt(row.get(), 4);
  status.job.quota = numberAt(row.get(), 5);
  status.job.createdBy = valueAt(row.get(), 6);
  status.verified = std::stoll(valueAt(row.get(), 7));
  if (status.job.quota)
    status.remaining = std::max<std::int64_t>(0, *status.job.quota - status.verified);
  return status;
}

std::optional<std::vector<std::uint8_t>> LineJobs::imageBytes(std::int64_t id, LineDbError& error) {
  error = {};
  const PgResult row =
      session_.run("SELECT image FROM jobs WHERE id = $1::bigint AND image IS NOT NULL",
                   {std::to_string(id)}, "cannot read the job's image", error);
  if (!row || PQntuples(row.get()) == 0) return std::nullopt;
  std::size_t length = 0;
  std::unique_ptr<unsigned char, decltype(&PQfreemem)> bytes(
      PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(row.get(), 0, 0)), &length),
      PQfreemem);
  if (!bytes) {
    error = {LineDbFailure::Other, "cannot read the job's image: out of memory"};
    return std::nullopt;
  }
  return std::vector<std::uint8_t>(bytes.get(), bytes.get() + length);
}

}  // namespace voltrix
