#include "tavrin_self_play/result_poster.hpp"

#include "python_support/py_error.hpp"
#include "tavrin_self_play/module_objects.hpp"

namespace tavrin::py {
namespace {

// Each builder returns null with the Python error set on failure.

PyRef pair_of(PyRef first, PyRef second) {
  if (!first || !second) return {};
  PyRef pair = PyRef::steal(PyTuple_New(2));
  if (!pair) return {};
  PyTuple_SET_ITEM(pair.get(), 0, first.release());
  PyTuple_SET_ITEM(pair.get(), 1, second.release());
  return pair;
}

PyRef int_of(std::int32_t value) { return PyRef::steal(PyLong_FromLong(value)); }
PyRef float_of(float value) { return PyRef::steal(PyFloat_FromDouble(value)); }

template <typename Items, typename Convert>
PyRef list_of(const Items& items, Convert convert) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return {};
  Py_ssize_t i = 0;
  for (const auto& item : items) {
    PyRef element = convert(item);
    if (!element) return {};
    PyList_SET_ITEM(list.get(), i++, element.release());
  }
  return list;
}

PyRef training_payload(const TrainingRecord& record) {
  PyRef moves = list_of(record.moves, [](const HistoryEntry& move) { return pair_of(int_of(move.first), int_of(move.second)); });
  PyRef policies = list_of(record.policies, [](const PolicyTarget& target) {
    return list_of(target, [](const auto& share) { return pair_of(int_of(share.first), float_of(share.second)); });
  });
  PyRef payoffs = list_of(record.payoffs, float_of);
  if (!moves || !policies || !payoffs) return {};
  PyRef payload = PyRef::steal(PyTuple_New(3));
  if (!payload) return {};
  PyTuple_SET_ITEM(payload.get(), 0, moves.release());
  PyTuple_SET_ITEM(payload.get(), 1, policies.release());
  PyTuple_SET_ITEM(payload.get(), 2, payoffs.release());
  return payload;
}

}  // namespace

std::optional<std::string> ResultPoster::post(PyRef payload) {
  PyRef message = payload ? pair_of(int_of(id_), std::move(payload)) : PyRef();
  if (message) {
    PyRef result = PyRef::steal(PyObject_CallMethodOneArg(queue_, put_name(), message.get()));
    if (result) return std::nullopt;
  }
  return fetch_recoverable_error().display_text();
}

std::optional<std::string> ResultPoster::post_training_record(const TrainingRecord& record) {
  return post(training_payload(record));
}

std::optional<std::string> ResultPoster::post_payoff(float payoff) { return post(float_of(payoff)); }

}  // namespace tavrin::py
