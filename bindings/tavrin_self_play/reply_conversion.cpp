#include "tavrin_self_play/reply_conversion.hpp"

#include <algorithm>

#include "tavrin_self_play/module_texts.hpp"

namespace tavrin::py {
namespace {

// A length reported by the object itself is only a hint: cap what it may
// reserve so that a lying __len__ cannot exhaust memory.
constexpr Py_ssize_t kMaxReservedFromLength = Py_ssize_t{1} << 16;

// One element through the float protocol; false with the Python error set.
bool element_value(PyObject* element, float& out) {
  const double value = PyFloat_AsDouble(element);
  if (value == -1.0 && PyErr_Occurred()) return false;
  out = static_cast<float>(value);
  return true;
}

// Exact lists and tuples are read in place. An element's __float__ may run
// arbitrary code that resizes the list, so its size and items are read
// afresh at every step (as list iteration does) and such an element is held
// while it converts; exact floats run no code.
bool read_list_or_tuple(PyObject* sequence, std::vector<float>& out) {
  out.clear();
  out.reserve(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence)));
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(sequence); ++i) {
    PyObject* element = PySequence_Fast_GET_ITEM(sequence, i);
    if (PyFloat_CheckExact(element)) {
      out.push_back(static_cast<float>(PyFloat_AS_DOUBLE(element)));
      continue;
    }
    PyRef held = PyRef::borrow(element);
    float value = 0.0F;
    if (!element_value(held.get(), value)) return false;
    out.push_back(value);
  }
  return true;
}

// Any other sequence is iterated once. Its length only sizes the buffer, so a
// failing __len__ counts as 0, unless it raised an interrupt or an exit,
// which must reach the caller.
bool read_iterated(PyObject* sequence, std::vector<float>& out) {
  Py_ssize_t hint = PySequence_Size(sequence);
  if (hint < 0) {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
    PyErr_Clear();
    hint = 0;
  }
  out.clear();
  out.reserve(static_cast<std::size_t>(std::min(hint, kMaxReservedFromLength)));
  PyRef iterator = PyRef::steal(PyObject_GetIter(sequence));
  if (!iterator) return false;
  while (PyRef element = PyRef::steal(PyIter_Next(iterator.get()))) {
    float value = 0.0F;
    if (!element_value(element.get(), value)) return false;
    out.push_back(value);
  }
  return !PyErr_Occurred();
}

}  // namespace

bool read_floats(PyObject* sequence, std::vector<float>& out) {
  if (PyUnicode_Check(sequence)) {
    PyErr_SetString(PyExc_TypeError, output::kStrNotNumbers);
    return false;
  }
  if (!PySequence_Check(sequence)) {
    PyErr_Format(PyExc_TypeError, output::kNotASequenceFormat, Py_TYPE(sequence)->tp_name);
    return false;
  }
  if (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence)) return read_list_or_tuple(sequence, out);
  return read_iterated(sequence, out);
}

}  // namespace tavrin::py
