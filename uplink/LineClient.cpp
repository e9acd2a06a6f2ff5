#include "uplink/LineClient.h"

#include <httplib.h>

#include "record/JsonText.h"

namespace voltrix::uplink {

namespace {

// What the line said went wrong: its {"error": ...}, or the start of its body.
std::string answerText(const httplib::Response& response) {
  std::string text = std::to_string(response.status);
  const JsonDocument body = JsonDocument::parse(response.body, nullptr, false);
  if (body.is_object() && body.contains("error") && body["error"].is_string()) {
    return text + ": " + body["error"].get<std::string>();
  }
  if (!response.body.empty()) text += ": " + response.body.substr(0, 200);
  return text;
}

std::string errorText(httplib::Error error) {
  switch (error) {
    case httplib::Error::Connection:
      return "no connection (refused, or no route to the line)";
    case httplib::Error::ConnectionTimeout:
      return "no connection in time";
    case httplib::Error::Read:
      return "no answer in time (or the connection broke)";
    case httplib::Error::Write:
      return "the request could not be sent whole";
    case httplib::Error::SSLConnection:
      return "the TLS handshake failed";
    case httplib::Error::SSLLoadingCerts:
      return "the CA certificates cannot be loaded (--line-ca)";
    case httplib::Error::SSLServerVerification:
      return "the line's certificate is not trusted (a plant's own CA goes in --line-ca)";
    default:
      return "HTTP client: " + httplib::to_string(error);
  }
}

LineAnswer::Kind kindOf(int status) {
  if (status == 200 || status == 204) return LineAnswer::Kind::Taken;
  if (status == 401 || status == 403) return LineAnswer::Kind::TokenRefused;
  if (status == 413) return LineAnswer::Kind::TooLarge;
  if (status == 400) return LineAnswer::Kind::Bad;
  return LineAnswer::Kind::Unavailable;
}

}  // namespace

LineClient::LineClient(LineClientSettings settings)
    : settings_(std::move(settings)),
      client_(std::make_unique<httplib::Client>(settings_.address.origin())) {
  client_->set_connection_timeout(settings_.connectTimeout);
  client_->set_read_timeout(settings_.transferTimeout);
  client_->set_write_timeout(settings_.transferTimeout);
  client_->set_bearer_token_auth(settings_.token);
  client_->set_keep_alive(true);
  // A post's head and body go out as two writes: without this the body
  // waits for the line's delayed acknowledgement of the head, some 40 ms
  // a post.
  client_->set_tcp_nodelay(true);
  if (settings_.caFile) client_->set_ca_cert_path(*settings_.caFile);
}

LineClient::~LineClient() = default;

LineAnswer LineClient::postRecords(const std::string& body) {
  return post(settings_.address.path("/api/records"), body, "application/x-ndjson");
}

LineAnswer LineClient::postState(const std::string& json) {
  return post(settings_.address.path("/api/stations/state"), json, "application/json");
}

LineAnswer LineClient::getJob(std::string& body) {
  return get(settings_.address.path("/api/job"), body);
}

LineAnswer LineClient::getJobImage(std::int64_t id, std::string& body) {
  return get(settings_.address.path("/api/jobs/" + std::to_string(id) + "/image"), body);
}

LineAnswer LineClient::get(const std::string& path, std::string& body) {
  body.clear();
  LineAnswer answer;
  httplib::Result result = client_->Get(path);
  if (!result) {
    answer.text = errorText(result.error());
    return answer;
  }
  answer.status = result->status;
  answer.kind = kindOf(result->status);
  if (answer.kind == LineAnswer::Kind::Taken) {
    body = std::move(result->body);
  } else {
    answer.text = answerText(*result);
  }
  return answer;
}

LineAnswer LineClient::post(const std::string& path, const std::string& body,
                            const char* contentType) {
  LineAnswer answer;
  const httplib::Result result = client_->Post(path, body, contentType);
  if (!result) {
    answer.text = errorText(result.error());
    return answer;
  }
  answer.status = result->status;
  answer.kind = kindOf(result->status);
  if (answer.kind != LineAnswer::Kind::Taken) answer.text = answerText(*result);
  return answer;
}

}  // namespace voltrix::uplink
