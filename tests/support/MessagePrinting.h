#pragma once
// Readable worker messages in test failures.

#include <ostream>

#include "engine/WorkerMessages.h"

namespace voltrix {

inline void PrintTo(const WorkerMessage& message, std::ostream* out) {
  *out << "{" << message.id;
  if (message.text != nullptr) {
    *out << ", \"" << message.text << "\"}";
  } else {
    *out << ", 0x" << std::hex << message.wParam << std::dec << ", " << message.lParam << "}";
  }
}

}  // namespace voltrix
