#pragma once

#include <cstdint>
#include <vector>

#include "evaluator.hpp"
#include "network_output.hpp"
#include "runtime.hpp"

namespace tavrin::py {

// Evaluates positions with the remote network: puts (id, position tensor) on
// one inference queue and reads (policy logits, value logits) from the
// runtime's pipe. Failures of the Python calls come back as evaluation
// failures; exceptions outside Exception are thrown as PropagatedPythonError.
class NetworkClient final : public Evaluator {
 public:
  NetworkClient(const Runtime& runtime, PyObject* inference_queue) : runtime_(runtime), queue_(inference_queue) {}

  Evaluation evaluate(const Game& game) override;

 private:
  // Null with the Python error set on failure.
  PyRef build_request(const Game& game, bool planes_last);
  // The pending Python error as an evaluation failure.
  static Evaluation failed();

  const Runtime& runtime_;
  PyObject* queue_;
  std::vector<std::uint8_t> state_;
  std::vector<float> policy_logits_;
  std::vector<float> value_logits_;
  NetworkOutputDecoder decoder_;
};

}  // namespace tavrin::py
