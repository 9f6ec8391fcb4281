#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>

#include <cstdint>
#include <initializer_list>
#include <span>

namespace tavrin::engine_bindings {

namespace nb = nanobind;

// A fresh, uninitialised numpy array owned by Python, with a writable span
// over its bytes: the engine fills it in place, nothing is copied twice.
template <typename Element>
struct NumpyArray {
  nb::object array;
  std::span<Element> values;
};

template <typename Element>
NumpyArray<Element> empty_array(std::initializer_list<std::size_t> shape, const char* dtype) {
  nb::list dims;
  std::size_t count = 1;
  for (std::size_t extent : shape) {
    dims.append(extent);
    count *= extent;
  }
  nb::object array = nb::module_::import_("numpy").attr("empty")(nb::tuple(dims), nb::arg("dtype") = dtype);
  auto view = nb::cast<nb::ndarray<Element, nb::c_contig, nb::device::cpu>>(array);
  return {std::move(array), std::span<Element>(view.data(), count)};
}

}  // namespace tavrin::engine_bindings
