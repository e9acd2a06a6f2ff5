#pragma once
// The exit code for each way a download can end without every segment
// verified. Both mappings are exhaustive switches: a new kind of refusal or
// failure does not build until it has its code.

#include "engine/Refusal.h"
#include "engine/RunFailure.h"

namespace voltrix {

// The exit code when DOWNLOAD refused to start (or --list found no segment).
int exitCodeFor(Refusal refusal);
// The exit code when a run ended with `failure`.
int exitCodeFor(RunFailure failure);

}  // namespace voltrix
