#pragma once

#include <cstdint>
#include <span>

#include "python_support/py_ref.hpp"

namespace tavrin::py {

// Nested Python lists of shape (outer, middle, inner) holding the shared True
// and False objects for the 0/1 bytes of `cells`, in row-major order. Null
// with the Python error set on failure.
PyRef nested_bool_lists(std::span<const std::uint8_t> cells, Py_ssize_t outer, Py_ssize_t middle, Py_ssize_t inner);

}  // namespace tavrin::py
