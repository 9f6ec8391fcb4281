#pragma once

#include <variant>

#include "python_support/py_error.hpp"
#include "search/config.hpp"

namespace tavrin::py {

// Reads the seven settings, in declaration order, by ordinary attribute
// access; the first failure stops the reading. A failed conversion gives
// TypeError("failed to extract field Config.<name>") caused by the
// conversion's own error.
std::variant<Config, PyError> read_config(PyObject* source);

}  // namespace tavrin::py
