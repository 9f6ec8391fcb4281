#pragma once

#include <cstdint>

#include "config.hpp"
#include "py_ref.hpp"

namespace tavrin::py {

// What one exported-function call hands to its driver. The Python objects are
// borrowed: the entry function holds a reference to each for the whole call.
struct Runtime {
  PyObject* result_queue = nullptr;
  PyObject* inference_queue = nullptr;
  PyObject* pipe = nullptr;
  Config config;
  std::int32_t id = 0;
};

}  // namespace tavrin::py
