#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "search/random.hpp"
#include "search/search_node.hpp"

namespace tavrin {

// The root of a search that learns from few simulations: Gumbel-top-k
// candidates, sequential halving over them, and a policy target from the
// completed Q-values. Below the root the search stays PUCT.
//
// A candidate's score is g + log prior + sigma(q), with sigma(q) =
// (kGumbelVisitScale + most root visits) * q; payoffs lie in [0, 1], so q
// needs no rescaling. Without noise every g is 0: a player's deterministic
// choice.
inline constexpr float kGumbelVisitScale = 50.0F;

class SequentialHalving {
 public:
  // Picks the `candidates` children of highest g + log prior (all of them when
  // fewer) and plans `simulations` over them in ceil(log2(candidates)) phases.
  void start(const SearchNode& root, std::uint64_t simulations, std::uint32_t candidates, bool noise,
             random::Generator& random);

  // The root child (its position in `root.children`) the next simulation
  // goes through; nothing once the budget is spent or one candidate is left.
  // A phase's end, reached here, halves the candidates by score.
  std::optional<std::size_t> next_child(const SearchNode& root);
  // Whether the next simulation begins a new phase, whose halving must read
  // the values of every simulation before it.
  bool at_phase_end() const { return phase_step_ == phase_length_; }

  // The candidate of highest score: the action to play.
  std::size_t chosen_child(const SearchNode& root) const;

  // softmax(log prior + sigma(completed q)) over every root child, in child
  // order. An unvisited child's q is the mixed value: the network's value of
  // the root blended with the prior-weighted q of the visited children.
  std::vector<float> improved_policy(const SearchNode& root) const;

 private:
  // g + log prior + sigma(q) of one child; `unvisited_q` is the mixed value.
  float score(const SearchNode& root, std::size_t child, float sigma_scale, float unvisited_q) const;
  void halve(const SearchNode& root);

  std::vector<float> noisy_logits_;      // g + log prior, per root child
  std::vector<std::size_t> remaining_;  // candidates still searched
  std::vector<float> scores_;            // per root child, reused by every halving
  std::uint64_t budget_ = 0;
  std::uint64_t used_ = 0;
  std::uint64_t phases_ = 1;
  std::uint64_t phase_length_ = 0;  // simulations of the current phase
  std::uint64_t phase_step_ = 0;
};

// The factor of q in sigma: kGumbelVisitScale plus the most visits of any root child.
float sigma_scale(const SearchNode& root);

}  // namespace tavrin
