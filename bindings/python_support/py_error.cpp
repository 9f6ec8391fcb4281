#include "python_support/py_error.hpp"

#include "python_support/python_texts.hpp"
#include "search/search_texts.hpp"
#include "selfplay/console.hpp"

namespace tavrin::py {
namespace {

std::string text_of(PyRef text, const char* fallback) {
  if (!text) {
    PyErr_Clear();
    return fallback;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return fallback;
  }
  return std::string(utf8, static_cast<std::size_t>(size));
}

std::string formatted_traceback(PyObject* traceback) {
  PyRef module = PyRef::steal(PyImport_ImportModule("traceback"));
  PyRef lines = module ? PyRef::steal(PyObject_CallMethod(module.get(), "format_tb", "O", traceback)) : PyRef();
  PyRef empty = PyRef::steal(PyUnicode_FromString(""));
  PyRef joined = lines && empty ? PyRef::steal(PyUnicode_Join(empty.get(), lines.get())) : PyRef();
  return std::string(output::kTracebackHeader) + text_of(std::move(joined), output::kTracebackFailed);
}

}  // namespace

std::string str_of(PyObject* object, const char* fallback) { return text_of(PyRef::steal(PyObject_Str(object)), fallback); }
std::string repr_of(PyObject* object, const char* fallback) { return text_of(PyRef::steal(PyObject_Repr(object)), fallback); }

PyError PyError::fetch() {
#if PY_VERSION_HEX >= 0x030C0000
  PyRef value = PyRef::steal(PyErr_GetRaisedException());
#else
  PyObject* type = nullptr;
  PyObject* raw_value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &raw_value, &traceback);
  if (type != nullptr) {
    PyErr_NormalizeException(&type, &raw_value, &traceback);
    if (traceback != nullptr && raw_value != nullptr) PyException_SetTraceback(raw_value, traceback);
  }
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  PyRef value = PyRef::steal(raw_value);
#endif
  if (!value) {
    value = PyRef::steal(PyObject_CallFunction(PyExc_SystemError, "s", output::kFetchWithoutError));
    if (!value) return fetch();  // creating the SystemError failed: take that failure instead
  }
  return PyError(std::move(value));
}

bool PyError::is_exception() const { return PyErr_GivenExceptionMatches(value_.get(), PyExc_Exception) != 0; }

std::string PyError::display_text() const {
  PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value_.get())), "__qualname__"));
  const std::string type_name = text_of(std::move(name), output::kUnknownTypeName);
  return output::display_text(type_name, str_of(value_.get(), output::kStrFailed));
}

std::string PyError::debug_text() const {
  // In this order: each rendering may run Python code.
  const std::string type = repr_of(reinterpret_cast<PyObject*>(Py_TYPE(value_.get())), output::kTypeReprFailed);
  const std::string value = repr_of(value_.get(), output::kValueReprFailed);
  PyRef traceback = PyRef::steal(PyException_GetTraceback(value_.get()));
  const std::string rendered_traceback =
      traceback ? output::some_traceback(quoted(formatted_traceback(traceback.get()))) : std::string(output::kNoTraceback);
  return output::debug_text(type, value, rendered_traceback);
}

void PyError::restore() && {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(value_.release());
#else
  PyObject* value = value_.release();
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
  Py_INCREF(type);
  PyErr_Restore(type, value, PyException_GetTraceback(value));
#endif
}

PyError fetch_recoverable_error() {
  PyError error = PyError::fetch();
  if (!error.is_exception()) throw PropagatedPythonError(std::move(error));
  return error;
}

}  // namespace tavrin::py
