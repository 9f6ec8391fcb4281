#pragma once

#include <cstdint>

#include "python_support/py_ref.hpp"
#include "selfplay/drivers.hpp"

namespace tavrin::py {

// Posts driver results on the result queue with `put`. A failure comes back
// as its display text; exceptions outside Exception are thrown as
// PropagatedPythonError.
class ResultPoster final : public ResultSink {
 public:
  ResultPoster(PyObject* result_queue, std::int32_t id) : queue_(result_queue), id_(id) {}

  // Posts (id, (moves, policies, payoffs)).
  std::optional<std::string> post_training_record(const TrainingRecord& record) override;
  // Posts (id, payoff).
  std::optional<std::string> post_payoff(float payoff) override;

 private:
  // Puts (id, payload); null payload means building it failed.
  std::optional<std::string> post(PyRef payload);

  PyObject* queue_;
  std::int32_t id_;
};

}  // namespace tavrin::py
