#pragma once

#include <cstdint>
#include <optional>

#include "search/config.hpp"
#include "search/playout.hpp"
#include "search/selection_rule.hpp"

namespace tavrin {

// How a leaf of the search gets its value (and its children their priors).
enum class LeafEvaluation : std::uint8_t {
  kNetwork,   // the network's priors and value (the module's search)
  kPlayouts,  // uniform priors; the mean payoff of random playouts to the end
  kMixed,     // the network's priors; (1 - weight) * its value + weight * the playouts' mean payoff
};

// Bound on playouts per leaf: a search of a few seconds at most.
inline constexpr std::uint32_t kMaxPlayoutsPerLeaf = 1024;
// A cache far above any useful size, well below what would exhaust memory.
inline constexpr std::uint64_t kMaxEvaluationCacheEntries = std::uint64_t{1} << 24;
// More than every square of a hand changes nothing.
inline constexpr std::uint32_t kMaxOpeningSampleActions = 89;
// More candidates than a board has tiles change nothing.
inline constexpr std::uint32_t kMaxGumbelCandidates = 1U << 16;
// Leaves gathered for one network call: far beyond a search's useful width.
inline constexpr std::uint32_t kMaxLeafBatch = 256;

// How a self-play game searches beyond the module's training game; all off
// by default, which is the module's game.
struct SelfPlayOptions {
  // An action with a single legal tile is played without search or network
  // call; it records the target a search would have given, all on that tile.
  bool skip_single_tile = false;
  // Playout cap randomisation: an action gets the full `sims_per_move` with
  // this probability and records its policy target; otherwise
  // `reduced_sims` simulations, no root noise and no target.
  float full_search_fraction = 1.0F;
  std::uint64_t reduced_sims = 0;
  // Stop after this many actions (0: play to the end); with a given start
  // position, a search of one action is a player's move choice.
  std::uint64_t action_limit = 0;
  // The network sees the extended planes (pieces in hand, the squares of the
  // piece being laid) after the five.
  bool extended_planes = false;
  // Unvisited children valued at the parent's value estimate minus this,
  // instead of 0 (see Search).
  std::optional<float> first_play_reduction;
  // 0: the root is searched like every node (PUCT, Dirichlet noise). At
  // least 2: a Gumbel root (SequentialHalving) over that many candidates for
  // every full search of two or more children; its noise is drawn where the
  // Dirichlet noise would be (exploration_fraction > 0), its choice is the
  // action and its improved policy the target.
  std::uint32_t gumbel_candidates = 0;
  LeafEvaluation leaf_evaluation = LeafEvaluation::kNetwork;
  // Playouts per leaf, and the weight of their mean against the network's
  // value (kMixed only).
  std::uint32_t playouts = 1;
  // Leaves a search gathers before asking for their evaluations together
  // (under a virtual loss): a lone game's network call answers several
  // simulations. 1 evaluates every leaf before the next descent.
  std::uint32_t leaf_batch = 1;
  float playout_weight = 0.5F;
  // How those playouts choose their tiles.
  PlayoutPolicy playout_policy = PlayoutPolicy::kUniform;
  SelectionRule selection = SelectionRule::kPuct;
  // Each player's first this many actions are drawn from the search's
  // policy (the visit shares, or a Gumbel root's improved policy) instead of
  // taking its best, so that every seat's opening varies, not only the
  // first `sample_moves` actions of the game.
  std::uint32_t opening_sample_actions = 0;
  // Each searched action keeps the whole placements its search went through
  // (SelfPlayGame::placements), for advice by pieces.
  bool placement_shares = false;
  // Share of an action's searched value (the mean value per player of its
  // simulations) in its position's value target, beside the game's outcome.
  float searched_value_weight = 0.0F;
  // Set by the batched pool, not read from settings: the game keeps its
  // training positions (SelfPlayGame::take_examples).
  bool record_examples = false;
  // Answers kept by the batched pool for positions reached again (0: none).
  std::uint64_t evaluation_cache = 0;
};

// Everything that steers the searches of a batch of self-play games.
struct SearchSettings {
  Config config;
  SelfPlayOptions options;
  // With a seed, game number n draws every random number (root noise, move
  // sampling, the full-search coin) from its own stream seeded from
  // (seed, n); without one, from the generator of the thread that runs it.
  std::optional<std::uint64_t> seed;
};

}  // namespace tavrin
