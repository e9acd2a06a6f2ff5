#pragma once
// What a run on one device and a station's runs on many have in common: the
// link's timings from the command line, the operator's hint for a port that
// would not open, and how a finished run's end becomes an exit code and a
// summary.

#include <string>

#include "control/RunSummary.h"
#include "engine/DownloadState.h"
#include "engine/Refusal.h"
#include "engine/RunFailure.h"
#include "link/LinkSession.h"
#include "link/ProtocolConstants.h"

namespace voltrix {

// Why the port would not open and what to do, with a word on ModemManager
// when it may be the program holding it.
std::string hintForPort(const OpenFailureRecord& failures);

// The exit code of a run the worker has ended; `failure` is the first one it
// reported. A run that reported nothing but left segments undone is no
// success.
int exitCodeOfRun(RunFailure failure, const DownloadState& state);

// Fills result, failure (its system text, kind and English words), the
// segment it happened in, the kept run folder, segments and bytes of
// `summary` for a finished run; `state` is the run's, read once the worker
// has ended. `openFailure` tells a port that would not open apart.
void summarizeRun(RunSummary& summary, int exitCode, RunFailure failure,
                  const VerifiedSegments& verified, const DownloadState& state,
                  OpenFailure openFailure);

// Fills result, failure, kind and exit code of `summary` for a refused run.
void summarizeRefusal(RunSummary& summary, Refusal refusal);

// Adds a line to a summary's hint.
void addHint(RunSummary& summary, const std::string& line);

}  // namespace voltrix
