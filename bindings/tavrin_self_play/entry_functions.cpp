#include "tavrin_self_play/entry_functions.hpp"

#include <array>
#include <new>
#include <variant>

#include "engine/internal_error.hpp"
#include "python_support/config_reader.hpp"
#include "selfplay/console.hpp"
#include "selfplay/drivers.hpp"
#include "tavrin_self_play/argument_binding.hpp"
#include "tavrin_self_play/module_objects.hpp"
#include "tavrin_self_play/network_client.hpp"
#include "tavrin_self_play/result_poster.hpp"

namespace tavrin::py {
namespace {

// The bound arguments of one call, each held by a new reference until return.
template <std::size_t N>
class CallArguments {
 public:
  bool bind(const char* function, const std::array<const char*, N>& names, PyObject* const* args, Py_ssize_t nargs,
            PyObject* kwnames) {
    std::array<PyObject*, N> bound{};
    if (!bind_arguments(function, names, args, nargs, kwnames, bound)) return false;
    if (!convert_id(bound[0], id_)) return false;
    for (std::size_t i = 0; i < N; ++i) held_[i] = PyRef::borrow(bound[i]);
    return true;
  }
  std::int32_t id() const { return id_; }
  PyObject* operator[](std::size_t i) const { return held_[i].get(); }

 private:
  std::int32_t id_ = 0;
  std::array<PyRef, N> held_;
};

// Reads the config; a failure is raised as the internal error caused by it.
bool read_config_or_raise(PyObject* source, Config& config) {
  auto read = read_config(source);
  if (auto* error = std::get_if<PyError>(&read)) {
    if (!error->is_exception()) {
      std::move(*error).restore();
      return false;
    }
    raise_internal_error(error->display_text().c_str(), PyRef::borrow(error->value()));
    return false;
  }
  config = std::get<Config>(read);
  return true;
}

// Runs a driver, turning C++ failures into the matching Python exceptions.
template <typename Driver>
PyObject* run_guarded(Driver driver) {
  try {
    return driver();
  } catch (const PropagatedPythonError& propagated) {
    propagated.restore();
  } catch (const InternalError& error) {
    raise_internal_error(error.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    raise_internal_error(error.what());
  }
  return nullptr;
}

constexpr std::array<const char*, 5> kQueueParameters = {"id", "config", "result_queue", "inference_queue", "pipe"};
constexpr std::array<const char*, 6> kTestGameParameters = {"id",          "config",         "result_queue",
                                                            "model_queue", "baseline_queue", "pipe"};

// Shared by the two drivers that take one inference queue and return a status.
template <typename Driver>
PyObject* play_with_status(const char* function, Driver driver, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  CallArguments<5> arguments;
  if (!arguments.bind(function, kQueueParameters, args, nargs, kwnames)) return nullptr;
  Config config;
  if (!read_config_or_raise(arguments[1], config)) return nullptr;
  return run_guarded([&]() -> PyObject* {
    NetworkClient network(arguments[3], arguments[4], arguments.id(), config.rep);
    ResultPoster results(arguments[2], arguments.id());
    return PyLong_FromLong(driver(network, results, config));
  });
}

}  // namespace

PyObject* play_training_game(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return play_with_status("play_training_game", training_game, args, nargs, kwnames);
}

PyObject* play_test_against_random(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return play_with_status("play_test_against_random", test_against_random, args, nargs, kwnames);
}

PyObject* play_test_game(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  CallArguments<6> arguments;
  if (!arguments.bind("play_test_game", kTestGameParameters, args, nargs, kwnames)) return nullptr;
  Config config;
  if (!read_config_or_raise(arguments[1], config)) return nullptr;
  return run_guarded([&]() -> PyObject* {
    NetworkClient candidate(arguments[3], arguments[5], arguments.id(), config.rep);
    NetworkClient baseline(arguments[4], arguments[5], arguments.id(), config.rep);
    auto outcome = test_game(candidate, baseline);
    if (const auto* error = std::get_if<std::string>(&outcome)) {
      PyErr_SetObject(PyExc_Exception, PyRef::steal(PyUnicode_FromString(quoted(*error).c_str())).get());
      return nullptr;
    }
    return PyFloat_FromDouble(std::get<float>(outcome));
  });
}

}  // namespace tavrin::py
