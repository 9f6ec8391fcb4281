#include "tavrin_self_play/tensor_lists.hpp"

namespace tavrin::py {

PyRef nested_bool_lists(std::span<const std::uint8_t> cells, Py_ssize_t outer, Py_ssize_t middle, Py_ssize_t inner) {
  PyRef top = PyRef::steal(PyList_New(outer));
  if (!top) return {};
  const std::uint8_t* cell = cells.data();
  for (Py_ssize_t i = 0; i < outer; ++i) {
    PyObject* rows = PyList_New(middle);
    if (rows == nullptr) return {};
    PyList_SET_ITEM(top.get(), i, rows);  // owned by `top` from here on
    for (Py_ssize_t j = 0; j < middle; ++j) {
      PyObject* row = PyList_New(inner);
      if (row == nullptr) return {};
      PyList_SET_ITEM(rows, j, row);
      PyObject** slots = reinterpret_cast<PyListObject*>(row)->ob_item;
      for (Py_ssize_t k = 0; k < inner; ++k) {
        PyObject* flag = *cell++ != 0 ? Py_True : Py_False;
        Py_INCREF(flag);
        slots[k] = flag;
      }
    }
  }
  return top;
}

}  // namespace tavrin::py
