#pragma once

#include "py_ref.hpp"

namespace tavrin::py {

// Interned method names, created on first use and kept for the process.
PyObject* put_name();
PyObject* recv_name();

}  // namespace tavrin::py
