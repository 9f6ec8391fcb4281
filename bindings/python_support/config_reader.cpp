#include "python_support/config_reader.hpp"

#include <array>
#include <string>

#include "python_support/python_texts.hpp"

namespace tavrin::py {
namespace {

enum Field { kDim, kRep, kSimsPerMove, kSampleMoves, kCPuct, kDirichletAlpha, kExplorationFraction, kFieldCount };

constexpr std::array<const char*, kFieldCount> kFieldNames = {
    "dim", "rep", "sims_per_move", "sample_moves", "c_puct", "dirichlet_alpha", "exploration_fraction"};

// Interned once per process and kept for its lifetime.
PyObject* field_name(Field field) {
  static const std::array<PyObject*, kFieldCount> names = [] {
    std::array<PyObject*, kFieldCount> interned{};
    for (std::size_t i = 0; i < kFieldCount; ++i) interned[i] = PyUnicode_InternFromString(kFieldNames[i]);
    return interned;
  }();
  return names[field];
}

bool to_unsigned(PyObject* value, std::uint64_t& out) {
  PyRef index = PyRef::steal(PyNumber_Index(value));
  if (!index) return false;
  out = PyLong_AsUnsignedLongLong(index.get());
  return !(out == static_cast<std::uint64_t>(-1) && PyErr_Occurred());
}

bool to_double(PyObject* value, double& out) {
  out = PyFloat_CheckExact(value) ? PyFloat_AS_DOUBLE(value) : PyFloat_AsDouble(value);
  return !(out == -1.0 && PyErr_Occurred());
}

// The pending conversion error, wrapped as the cause of the field's TypeError.
PyError extraction_error(Field field) {
  PyError cause = PyError::fetch();
  const std::string message = std::string(output::kConfigFieldError) + kFieldNames[field];
  PyRef error = PyRef::steal(PyObject_CallFunction(PyExc_TypeError, "s", message.c_str()));
  if (!error) return PyError::fetch();
  Py_INCREF(cause.value());
  PyException_SetCause(error.get(), cause.value());  // steals the added reference
  return PyError::of(std::move(error));
}

}  // namespace

std::variant<Config, PyError> read_config(PyObject* source) {
  Config config;
  for (int f = 0; f < kFieldCount; ++f) {
    const auto field = static_cast<Field>(f);
    PyRef value = PyRef::steal(PyObject_GetAttr(source, field_name(field)));
    if (!value) return PyError::fetch();
    bool converted = false;
    double real = 0.0;
    switch (field) {
      case kDim: converted = to_unsigned(value.get(), config.dim); break;
      case kRep: converted = to_unsigned(value.get(), config.rep); break;
      case kSimsPerMove: converted = to_unsigned(value.get(), config.sims_per_move); break;
      case kSampleMoves: converted = to_unsigned(value.get(), config.sample_moves); break;
      case kCPuct:
        converted = to_double(value.get(), real);
        config.c_puct = static_cast<float>(real);
        break;
      case kDirichletAlpha: converted = to_double(value.get(), config.dirichlet_alpha); break;
      case kExplorationFraction:
        converted = to_double(value.get(), real);
        config.exploration_fraction = static_cast<float>(real);
        break;
      case kFieldCount: break;
    }
    if (!converted) return extraction_error(field);
  }
  return config;
}

}  // namespace tavrin::py
