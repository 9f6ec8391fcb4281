#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "search/evaluator.hpp"
#include "search/network_output.hpp"

namespace tavrin::testing {

// An in-process network: policy logits from `policy` (all zero by default),
// fixed value logits, and an optional failure at one call.
class FakeNetwork final : public Evaluator {
 public:
  std::function<std::vector<float>(const Game&)> policy;
  std::vector<float> value_logits{0.0F, 0.0F, 0.0F, 0.0F};
  std::optional<std::size_t> fail_at_request;  // 0-based request number
  std::vector<std::uint64_t> players_asked;    // player to move at each request

  Evaluation evaluate(const Game& game) override {
    const std::size_t request = players_asked.size();
    players_asked.push_back(game.current_player());
    if (fail_at_request == request) return EvaluationFailure{"RuntimeError: boom", "PyErr { boom }"};
    logits_ = policy ? policy(game) : std::vector<float>(game.dim() * game.dim(), 0.0F);
    return decoder_.decode(game, logits_, value_logits);
  }

 private:
  std::vector<float> logits_;
  NetworkOutputDecoder decoder_;
};

}  // namespace tavrin::testing
