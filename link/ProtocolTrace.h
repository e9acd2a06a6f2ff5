#pragma once
// An observer of every byte that crosses the serial line during a run, in
// the order they cross it: what bringing up a new board needs first. Called
// from the worker's thread; an observer must not block for long.

#include <cstddef>
#include <cstdint>

namespace voltrix {

class ProtocolTrace {
 public:
  virtual ~ProtocolTrace() = default;
  // The bytes just handed to the port.
  virtual void sent(const std::uint8_t* bytes, std::size_t length) noexcept = 0;
  // The bytes just taken from the port.
  virtual void received(const std::uint8_t* bytes, std::size_t length) noexcept = 0;
};

}  // namespace voltrix
