#pragma once
// The line's jobs in PostgreSQL: an image published by an engineer is
// checked with the line's own trusted keys before anything is stored, then
// kept with its bytes and made the current job in one transaction, with an
// entry in the control audit naming who did it. Stations read the current
// job and its bytes; its quota counts the verified runs of its image since
// it was published.
//
// Uses the LineDb's connection: one thread at a time, errors typed.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "job/JobKeys.h"
#include "job/JobSignature.h"
#include "line/LineDbError.h"

namespace voltrix {

class PgSession;

struct LineJob {
  std::int64_t id = 0;
  std::string name;
  std::string sha256;  // lowercase hex, computed by the line from the bytes
  std::uint64_t size = 0;
  std::string signature;  // base64
  std::optional<std::int64_t> quota;
  std::string createdBy;
};

struct LineJobStatus {
  LineJob job;
  std::int64_t verified = 0;              // runs of its image that verified since it was published
  std::optional<std::int64_t> remaining;  // quota - verified, never below 0; none without quota
};

// Who publishes, for the audit.
struct LinePublisher {
  std::string who;   // the token's name
  std::string role;  // "engineer", "admin"
  std::string remoteAddress;
};

struct LinePublish {
  JobVerdict verdict;          // not Ok: refused, nothing stored (the refusal is audited)
  std::optional<LineJob> job;  // stored and current when the verdict is Ok and no error
};

// The bodies of the job routes: GET /api/job ({"id","name","sha256","size",
// "signature","quota","verified","remaining"}) and the 201 of POST /api/jobs
// ({"id","name","sha256","size"}).
std::string currentJobJson(const LineJobStatus& status);
std::string publishedJobJson(const LineJob& job);

class LineJobs {
 public:
  LineJobs(PgSession& session, std::vector<PublicKey> trustedKeys);

  // Empty with `error` when the database failed (nothing stored then).
  std::optional<LinePublish> publish(std::span<const std::uint8_t> image, const std::string& name,
                                     const std::string& signatureBase64,
                                     std::optional<std::int64_t> quota,
                                     const LinePublisher& publisher, LineDbError& error);

  // The current job; empty with error.kind None when none is current.
  std::optional<LineJobStatus> current(LineDbError& error);

  // A job's image; empty with error.kind None when there is no such job.
  std::optional<std::vector<std::uint8_t>> imageBytes(std::int64_t id, LineDbError& error);

 private:
  bool audit(const LinePublisher& publisher, const std::string& action, const std::string& result,
             LineDbError& error);

  PgSession& session_;
  std::vector<PublicKey> trustedKeys_;
};

}  // namespace voltrix
