#pragma once
// Moves the Windows dialog to Documents\Voltrix when WorkFolder.h's rule
// says so.

#include <string>

#include "control/DialogOptions.h"

namespace voltrix {

// Makes Documents\Voltrix the working folder when worksInDocuments says so,
// creating it on first start. Empty when the dialog works where it should;
// otherwise why the working folder was kept, for the operator to read.
std::string settleWorkFolder(const DialogOptions& options);

}  // namespace voltrix
