#pragma once
// The order a person expects of names with numbers in them: runs of digits
// compare by their value, so VCP2 comes before VCP10.

#include <string>

namespace voltrix {

bool naturalLess(const std::string& a, const std::string& b);

}  // namespace voltrix
