#include "method_names.hpp"

namespace tavrin::py {

PyObject* put_name() {
  static PyObject* const name = PyUnicode_InternFromString("put");
  return name;
}

PyObject* recv_name() {
  static PyObject* const name = PyUnicode_InternFromString("recv");
  return name;
}

}  // namespace tavrin::py
