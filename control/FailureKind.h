#pragma once
// A stable English name and a short English phrase for every way a run can
// end without every segment verified: for scripts (the JSON's failure_kind,
// which never changes once released) and for people who do not read the
// system's own texts. Each mapping is an exhaustive switch on the typed kind,
// so a new kind does not build until it is named.

#include "engine/Refusal.h"
#include "engine/RunFailure.h"
#include "port/PortOpenFailure.h"

namespace voltrix {

struct FailureKind {
  const char* id = nullptr;       // e.g. "read_back_mismatch"; null for none
  const char* english = nullptr;  // e.g. "read-back differs from the image"
};

FailureKind failureKindOf(Refusal refusal);
// A port that would not open is told apart by why it would not.
FailureKind failureKindOf(RunFailure failure, OpenFailure openFailure = OpenFailure::None);
FailureKind failureKindOf(OpenFailure openFailure);

}  // namespace voltrix
