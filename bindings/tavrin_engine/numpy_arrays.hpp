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

// A batch's network inputs as fresh numpy bool arrays: board planes (rows,
// planes, dim, dim), or planes last, and hand entries (rows, hand_entries),
// filled by `write(board_bytes, hand_bytes)` without the GIL.
template <typename Write>
nb::tuple network_input_arrays(std::size_t rows, std::size_t dim, std::size_t planes, std::size_t hand_entries,
                               bool planes_last, Write&& write) {
  auto board = planes_last ? empty_array<bool>({rows, dim, dim, planes}, "bool")
                           : empty_array<bool>({rows, planes, dim, dim}, "bool");
  auto hands = empty_array<bool>({rows, hand_entries}, "bool");
  {
    nb::gil_scoped_release unlocked;
    write(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(board.values.data()), board.values.size()),
          std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(hands.values.data()), hands.values.size()));
  }
  return nb::make_tuple(board.array, hands.array);
}

}  // namespace tavrin::engine_bindings
