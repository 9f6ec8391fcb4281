#pragma once

#include "python_support/py_ref.hpp"

namespace tavrin::py {

// The three exported functions (METH_FASTCALL | METH_KEYWORDS).
PyObject* play_training_game(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* play_test_game(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* play_test_against_random(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace tavrin::py
