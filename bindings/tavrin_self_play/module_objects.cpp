#include "tavrin_self_play/module_objects.hpp"

#include "tavrin_self_play/module_texts.hpp"

namespace tavrin::py {
namespace {

PyObject* type_object = nullptr;  // lives for the process, like the module


}  // namespace

PyObject* put_name() {
  static PyObject* const name = PyUnicode_InternFromString("put");
  return name;
}

PyObject* recv_name() {
  static PyObject* const name = PyUnicode_InternFromString("recv");
  return name;
}

PyObject* internal_error_type() { return type_object; }

bool create_internal_error_type() {
  if (type_object != nullptr) return true;
  type_object =
      PyErr_NewExceptionWithDoc(output::kInternalErrorName, output::kInternalErrorDoc, PyExc_BaseException, nullptr);
  return type_object != nullptr;
}

void raise_internal_error(const char* message) { raise_internal_error(message, PyRef()); }

void raise_internal_error(const char* message, PyRef cause) {
  PyRef error = PyRef::steal(PyObject_CallFunction(type_object, "s", message));
  if (!error) return;  // that failure is now the pending error
  if (cause) PyException_SetCause(error.get(), cause.release());
  PyErr_SetObject(type_object, error.get());
}

}  // namespace tavrin::py
