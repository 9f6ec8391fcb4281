#pragma once

#include "python_support/py_ref.hpp"

// The Python objects tavrin_self_play keeps for the life of the process, all
// in one place: interned method names and the internal-error class.
namespace tavrin::py {

// Interned method names, created on first use.
PyObject* put_name();
PyObject* recv_name();

// The exception class for internal errors, derived directly from
// BaseException so that `except Exception` in a worker does not swallow it.
// Created once per process by the module initialisation.
PyObject* internal_error_type();
// False with the Python error set when the class cannot be created.
bool create_internal_error_type();

// Raises the internal-error exception with `message` as its one argument.
void raise_internal_error(const char* message);
// Same, with `cause` attached as __cause__ (takes its reference).
void raise_internal_error(const char* message, PyRef cause);

}  // namespace tavrin::py
