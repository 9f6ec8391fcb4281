#pragma once

#include <exception>
#include <memory>
#include <string>

#include "python_support/py_ref.hpp"
#include "python_support/python_texts.hpp"
#include "search/evaluator.hpp"

namespace tavrin::py {

// A Python exception taken out of the interpreter's error indicator and owned.
class PyError {
 public:
  // Takes the pending exception; a SystemError stands in when none is set.
  static PyError fetch();
  // Wraps an exception instance.
  static PyError of(PyRef value) { return PyError(std::move(value)); }

  PyObject* value() const { return value_.get(); }
  // False for BaseExceptions outside Exception (KeyboardInterrupt, SystemExit).
  bool is_exception() const;
  // "Type: message".
  std::string display_text() const;
  // PyErr { type: <repr>, value: <repr>, traceback: None | Some("<formatted>") }.
  std::string debug_text() const;
  EvaluationFailure to_failure() const { return {display_text(), debug_text()}; }
  // Sets it as the pending exception again.
  void restore() &&;

 private:
  explicit PyError(PyRef value) : value_(std::move(value)) {}
  PyRef value_;
};

// Carries a Python exception that must reach the caller unchanged through the
// search, which cannot handle it. Shared ownership keeps it copyable, as
// thrown objects must be.
class PropagatedPythonError : public std::exception {
 public:
  explicit PropagatedPythonError(PyError error) : error_(std::make_shared<PyError>(std::move(error))) {}
  const char* what() const noexcept override { return output::kPropagatingPythonError; }
  void restore() const { std::move(*error_).restore(); }

 private:
  std::shared_ptr<PyError> error_;
};

// The pending exception as an error value; one that is not an Exception is
// thrown as PropagatedPythonError instead.
PyError fetch_recoverable_error();

// UTF-8 text of str(object) or repr(object); `fallback` when that fails.
std::string str_of(PyObject* object, const char* fallback);
std::string repr_of(PyObject* object, const char* fallback);

}  // namespace tavrin::py
