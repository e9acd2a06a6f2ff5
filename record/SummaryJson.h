#pragma once
// A run's summary as the one JSON object --json prints.

#include <string>

#include "control/RunSummary.h"

namespace voltrix {

std::string summaryJson(const RunSummary& summary);

}  // namespace voltrix
