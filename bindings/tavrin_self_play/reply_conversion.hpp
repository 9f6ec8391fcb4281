#pragma once

#include <vector>

#include "python_support/py_ref.hpp"

namespace tavrin::py {

// Reads a sequence of numbers (not a str) into 32-bit floats, each through
// the float protocol and narrowed. False with the Python error set on failure.
bool read_floats(PyObject* sequence, std::vector<float>& out);

}  // namespace tavrin::py
