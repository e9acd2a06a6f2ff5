#pragma once
// Readable worker messages in test failures.

#include <ostream>

#include "engine/WorkerMessages.h"

namespace voltrix {

inline void PrintTo(const WorkerMessage& message, std::ostream* out) {
  *out << "{" << message.id;
  if (message.text != nullptr) {
    *out << ", \"" << message.text << "\"";
    if (message.failure != RunFailure{}) *out << ", failure " << static_cast<int>(message.failure);
    *out << "}";
  } else {
    *out << ", 0x" << std::hex << message.wParam << std::dec << ", " << message.lParam << "}";
  }
}

}  // namespace voltrix
