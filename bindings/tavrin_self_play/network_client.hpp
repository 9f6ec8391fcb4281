#pragma once

#include <cstdint>
#include <vector>

#include "python_support/py_ref.hpp"
#include "search/evaluator.hpp"
#include "search/network_output.hpp"

namespace tavrin::py {

// Evaluates positions with the remote network: puts (id, position tensor) on
// one inference queue and reads (policy logits, value logits) from the
// worker's pipe. The queue and pipe are borrowed for the call. Failures of the Python calls come back as evaluation
// failures; exceptions outside Exception are thrown as PropagatedPythonError.
class NetworkClient final : public Evaluator {
 public:
  // `rep`: 1 sends planes first, 2 planes last; anything else is an internal
  // error at the first evaluation.
  NetworkClient(PyObject* inference_queue, PyObject* pipe, std::int32_t id, std::uint64_t rep)
      : queue_(inference_queue), pipe_(pipe), id_(id), rep_(rep) {}

  Evaluation evaluate(const Game& game) override;

 private:
  // Null with the Python error set on failure.
  PyRef build_request(const Game& game, bool planes_last);
  // The pending Python error as an evaluation failure.
  static Evaluation failed();

  PyObject* queue_;
  PyObject* pipe_;
  std::int32_t id_;
  std::uint64_t rep_;
  std::vector<std::uint8_t> state_;
  std::vector<float> policy_logits_;
  std::vector<float> value_logits_;
  NetworkOutputDecoder decoder_;
};

}  // namespace tavrin::py
