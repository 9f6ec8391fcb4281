#include "reply_conversion.hpp"

namespace tavrin::py {

bool read_floats(PyObject* sequence, std::vector<float>& out) {
  if (PyUnicode_Check(sequence)) {
    PyErr_SetString(PyExc_TypeError, "a str cannot be read as a sequence of numbers");
    return false;
  }
  if (!PySequence_Check(sequence)) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'Sequence'", Py_TYPE(sequence)->tp_name);
    return false;
  }
  // Lists and tuples are read in place; other sequences are iterated once.
  PyRef items = PyRef::steal(PySequence_Fast(sequence, "expected a sequence of numbers"));
  if (!items) return false;
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
  PyObject** elements = PySequence_Fast_ITEMS(items.get());
  out.resize(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyObject* element = elements[i];
    double value = 0.0;
    if (PyFloat_CheckExact(element)) {
      value = PyFloat_AS_DOUBLE(element);
    } else {
      value = PyFloat_AsDouble(element);
      if (value == -1.0 && PyErr_Occurred()) return false;
    }
    out[static_cast<std::size_t>(i)] = static_cast<float>(value);
  }
  return true;
}

}  // namespace tavrin::py
