#include "tavrin_self_play/argument_binding.hpp"

#include <climits>
#include <cstring>
#include <string>

#include "python_support/py_error.hpp"
#include "python_support/python_texts.hpp"
#include "tavrin_self_play/module_texts.hpp"

namespace tavrin::py {
namespace {

void raise_missing(const char* function, std::span<const char* const> names, std::span<PyObject*> bound) {
  std::string list;
  std::size_t missing = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (bound[i] != nullptr) continue;
    ++missing;
    if (!list.empty()) list += ", ";
    list += '\'';
    list += names[i];
    list += '\'';
  }
  PyErr_Format(PyExc_TypeError, output::kMissingArgumentsFormat, function, missing, missing == 1 ? "" : "s",
               list.c_str());
}

}  // namespace

bool bind_arguments(const char* function, std::span<const char* const> names, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> bound) {
  const auto count = static_cast<Py_ssize_t>(names.size());
  if (nargs > count) {
    PyErr_Format(PyExc_TypeError, output::kTooManyPositionalFormat, function, count, nargs);
    return false;
  }
  for (auto& slot : bound) slot = nullptr;
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[static_cast<std::size_t>(i)] = args[i];

  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    const char* text = PyUnicode_AsUTF8(keyword);
    if (text == nullptr) return false;
    std::size_t slot = names.size();
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (std::strcmp(names[i], text) == 0) slot = i;
    }
    if (slot == names.size()) {
      PyErr_Format(PyExc_TypeError, output::kUnexpectedKeywordFormat, function, text);
      return false;
    }
    if (bound[slot] != nullptr) {
      PyErr_Format(PyExc_TypeError, output::kDuplicateArgumentFormat, function, text);
      return false;
    }
    bound[slot] = args[nargs + k];
  }
  for (PyObject* slot : bound) {
    if (slot == nullptr) {
      raise_missing(function, names, bound);
      return false;
    }
  }
  return true;
}

bool convert_id(PyObject* value, std::int32_t& id) {
  const long converted = PyLong_AsLong(value);
  if (converted == -1 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_TypeError) == 0) return false;
    PyError error = PyError::fetch();
    if (Py_TYPE(error.value()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
      std::move(error).restore();
      return false;
    }
    const std::string message = std::string(output::kIdArgumentPrefix) + str_of(error.value(), output::kStrFailed);
    PyErr_SetString(PyExc_TypeError, message.c_str());
    return false;
  }
  if (converted > INT32_MAX || converted < INT32_MIN) {
    PyErr_SetString(PyExc_OverflowError, converted > 0 ? output::kIdAboveRange : output::kIdBelowRange);
    return false;
  }
  id = static_cast<std::int32_t>(converted);
  return true;
}

}  // namespace tavrin::py
