#include "uplink/JobFollower.h"

#include <algorithm>

#include "record/JsonText.h"

namespace voltrix::uplink {

namespace {

// "ID sha256" of the line's job, empty when it names neither.
std::string jobKey(const JsonDocument& job) {
  if (!job.is_object() || !job.contains("id") || !job["id"].is_number_integer() ||
      !job.contains("sha256") || !job["sha256"].is_string()) {
    return {};
  }
  return std::to_string(job["id"].get<std::int64_t>()) + " " + job["sha256"].get<std::string>();
}

}  // namespace

JobFollower::JobFollower(JobFollowerSettings settings, JobFollowerHooks hooks)
    : settings_(std::move(settings)),
      hooks_(std::move(hooks)),
      client_(settings_.line),
      thread_([this] { work(); }) {}

JobFollower::~JobFollower() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

std::string JobFollower::lastError() const {
  const std::lock_guard lock(mutex_);
  return lastError_;
}

void JobFollower::work() {
  auto retry = settings_.firstRetry;
  for (;;) {
    const bool answered = look();
    const auto wait = answered ? settings_.period : retry;
    retry = answered ? settings_.firstRetry : std::min(retry * 2, settings_.longestRetry);
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, wait, [this] { return stop_; })) return;
  }
}

bool JobFollower::look() {
  std::string body;
  const auto failed = [this](const LineAnswer& answer) {
    const std::lock_guard lock(mutex_);
    lastError_ = answer.text.empty() ? "HTTP " + std::to_string(answer.status) : answer.text;
    return false;
  };
  const LineAnswer asked = client_.getJob(body);
  if (asked.kind != LineAnswer::Kind::Taken) return failed(asked);
  {
    const std::lock_guard lock(mutex_);
    lastError_.clear();
  }
  if (asked.status == 204) return true;  // no job: the image in use stays
  const JsonDocument job = JsonDocument::parse(body, nullptr, false);
  const std::string key = jobKey(job);
  if (key.empty() || key == refused_ || !hooks_.wants(body)) return true;
  std::string image;
  const LineAnswer fetched = client_.getJobImage(job["id"].get<std::int64_t>(), image);
  if (fetched.kind != LineAnswer::Kind::Taken) return failed(fetched);
  if (!hooks_.offer(body, image)) refused_ = key;
  return true;
}

}  // namespace voltrix::uplink
