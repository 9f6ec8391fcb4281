#pragma once

#include <cstdint>
#include <span>

#include "python_support/py_ref.hpp"

namespace tavrin::py {

// Binds vectorcall arguments (positional first, then keywords) to the
// parameter `names`, all required. On a missing, surplus, duplicate or
// unknown argument it raises TypeError and returns false.
bool bind_arguments(const char* function, std::span<const char* const> names, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> bound);

// Converts the `id` argument to a signed 32-bit integer. A TypeError (exactly
// that class) is re-raised with the prefix "argument 'id': "; other errors,
// OverflowError included, pass unchanged.
bool convert_id(PyObject* value, std::int32_t& id);

}  // namespace tavrin::py
