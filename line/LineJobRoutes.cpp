// The line's jobs over HTTP: an engineer publishes a signed image, the
// stations read the current job and fetch its bytes.

#include <httplib.h>

#include <charconv>

#include "line/LineAnswers.h"
#include "line/LineJobs.h"
#include "line/LineServer.h"

namespace voltrix {

namespace {

std::optional<std::int64_t> numberIn(const std::string& text) {
  std::int64_t value = 0;
  const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || problem != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::span<const std::uint8_t> bytesOf(const std::string& body) {
  return {reinterpret_cast<const std::uint8_t*>(body.data()), body.size()};
}

}  // namespace

void LineServer::routeJobs() {
  // The token was checked before the body was read (routeService).
  server_->Post("/api/jobs", [this](const httplib::Request& request, httplib::Response& response) {
    // Whatever is wrong with the job is LineJobs' to refuse, so that the
    // refusal is audited as well: a quota that is no number counts as 0.
    std::optional<std::int64_t> quota;
    if (const std::string given = request.get_param_value("quota"); !given.empty()) {
      quota = numberIn(given).value_or(0);
    }
    LinePublisher publisher;
    publisher.remoteAddress = request.remote_addr;
    if (settings_.tokens) {
      std::string token = request.get_header_value("Authorization");
      token = token.rfind("Bearer ", 0) == 0 ? token.substr(7) : std::string();
      const service::AccessTokens::Holder holder = settings_.tokens->holderOf(token);
      publisher.who = holder.name;
      publisher.role = service::roleName(holder.role);
    } else {
      publisher.who = "anyone on loopback";
      publisher.role = "none";
    }
    std::optional<LinePublish> published;
    if (!withDatabase(response, [&](LineDb& db, LineDbError& error) {
          LineJobs jobs(db.session(), settings_.trustedKeys);
          published = jobs.publish(bytesOf(request.body), request.get_param_value("name"),
                                   request.get_param_value("signature"), quota, publisher, error);
          return published.has_value();
        })) {
      return;
    }
    if (!published->verdict.ok()) {
      const bool noKey = published->verdict.check == JobCheck::NoTrustedKey;
      return answerJson(response,
                        {{"error", noKey && settings_.trustedKeys.empty()
                                       ? "the line trusts no key: start it with --trust-key "
                                         "FILE to take jobs"
                                       : "job refused: " + published->verdict.text},
                         {"check", jobCheckName(published->verdict.check)}},
                        422);
    }
    const JsonDocument body = JsonDocument::parse(publishedJobJson(*published->job));
    board_.jobPublished(body);
    answerJson(response, body, 201);
  });

  server_->Get("/api/job", [this](const httplib::Request& request, httplib::Response& response) {
    if (!allowed(request, response, LineAccess::Fetch)) return;
    std::optional<LineJobStatus> current;
    if (!withDatabase(response, [&](LineDb& db, LineDbError& error) {
          current = LineJobs(db.session(), settings_.trustedKeys).current(error);
          return current.has_value() || error.kind == LineDbFailure::None;
        })) {
      return;
    }
    if (!current) {
      response.status = 204;
      response.set_header("Cache-Control", "no-store");
      return;
    }
    answerJson(response, JsonDocument::parse(currentJobJson(*current)));
  });

  server_->Get(R"(/api/jobs/([^/]+)/image)", [this](const httplib::Request& request,
                                                    httplib::Response& response) {
    if (!allowed(request, response, LineAccess::Fetch)) return;
    const auto id = numberIn(request.matches[1]);
    if (!id) return answerError(response, 404, "no such job");
    std::optional<std::vector<std::uint8_t>> image;
    if (!withDatabase(response, [&](LineDb& db, LineDbError& error) {
          image = LineJobs(db.session(), settings_.trustedKeys).imageBytes(*id, error);
          return image.has_value() || error.kind == LineDbFailure::None;
        })) {
      return;
    }
    if (!image) return answerError(response, 404, "no such job");
    response.set_header("Cache-Control", "no-store");
    response.set_content(std::string(image->begin(), image->end()), "application/octet-stream");
  });
}

std::string LineServer::jobMetrics() {
  std::optional<LineJobStatus> current;
  LineDbError error;
  connections_.with(
      [&](LineDb& db, LineDbError& failure) {
        current = LineJobs(db.session(), settings_.trustedKeys).current(failure);
        return current.has_value() || failure.kind == LineDbFailure::None;
      },
      error);
  if (!current) return {};
  std::string text =
      "# HELP voltrix_line_job_verified Devices the current job verified since it was "
      "published.\n# TYPE voltrix_line_job_verified gauge\n"
      "voltrix_line_job_verified " +
      std::to_string(current->verified) + "\n";
  if (current->remaining) {
    text +=
        "# HELP voltrix_line_job_remaining Devices the current job's quota still allows.\n"
        "# TYPE voltrix_line_job_remaining gauge\n"
        "voltrix_line_job_remaining " +
        std::to_string(*current->remaining) + "\n";
  }
  return text;
}

}  // namespace voltrix
