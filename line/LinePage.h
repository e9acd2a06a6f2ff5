#pragma once
// The line's dashboard: one page of HTML, CSS and script, compiled into the
// program; nothing is fetched from elsewhere.

#include <string_view>

namespace voltrix {

std::string_view linePage();

}  // namespace voltrix
