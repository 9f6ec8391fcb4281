#pragma once

#include <stdexcept>
#include <string>

namespace tavrin {

// The one exception type of the engine: an impossible state or a broken
// contract (out-of-range index, bad player number, unsupported board side).
// The Python boundary turns it into its dedicated exception class.
class InternalError : public std::runtime_error {
 public:
  explicit InternalError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace tavrin
