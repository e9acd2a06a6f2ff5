#pragma once
// How the line's routes answer: JSON bodies, errors as {"error": "..."},
// never cached.

#include <httplib.h>

#include <string>

#include "record/JsonText.h"

namespace voltrix {

inline void answerJson(httplib::Response& response, const JsonDocument& json, int status = 200) {
  response.status = status;
  response.set_header("Cache-Control", "no-store");
  response.set_content(jsonLine(json) + "\n", "application/json; charset=utf-8");
}

inline void answerError(httplib::Response& response, int status, const std::string& text) {
  answerJson(response, {{"error", text}}, status);
}

}  // namespace voltrix
