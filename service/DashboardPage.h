#pragma once
// The dashboard: one page of HTML, CSS and script, compiled into the
// program; nothing is fetched from elsewhere.

#include <string_view>

namespace voltrix::service {

std::string_view dashboardPage();

}  // namespace voltrix::service
