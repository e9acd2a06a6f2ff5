#pragma once
// The line database's schema, one numbered step after the other.

#include <span>

namespace voltrix {

// Step N is element N-1. A step is never changed once released: a change of
// the schema is a new step.
std::span<const char* const> lineMigrations();

}  // namespace voltrix
