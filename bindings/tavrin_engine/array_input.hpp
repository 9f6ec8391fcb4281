#pragma once

#include <nanobind/ndarray.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tavrin_engine/bindings.hpp"
#include "tavrin_engine/module_texts.hpp"

namespace tavrin::engine_bindings {

using AnyArray = nb::ndarray<nb::ro, nb::device::cpu>;

// A float32 (rows, columns) array, numpy or torch on the CPU, copied row-major.
inline std::vector<float> float_rows(const AnyArray& array, const char* name, std::size_t rows, std::size_t columns) {
  if (array.dtype() != nb::dtype<float>()) throw nb::type_error(output::not_float32(name).c_str());
  if (array.ndim() != 2 || array.shape(0) != rows || array.shape(1) != columns) {
    std::string shape = "(";
    for (std::size_t d = 0; d < array.ndim(); ++d) shape += (d ? ", " : "") + std::to_string(array.shape(d));
    shape += array.ndim() == 1 ? ",)" : ")";
    throw nb::value_error(output::shape_mismatch(name, rows, columns, shape).c_str());
  }
  std::vector<float> out(rows * columns);
  const auto* data = static_cast<const float*>(array.data());
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < columns; ++c) {
      out[r * columns + c] = data[static_cast<std::int64_t>(r) * array.stride(0) + static_cast<std::int64_t>(c) * array.stride(1)];
    }
  }
  return out;
}

}  // namespace tavrin::engine_bindings
