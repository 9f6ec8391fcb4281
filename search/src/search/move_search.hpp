#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/game.hpp"
#include "search/evaluator.hpp"
#include "search/gumbel_root.hpp"
#include "search/playout.hpp"
#include "search/random.hpp"
#include "search/search.hpp"
#include "search/search_node.hpp"
#include "search/search_settings.hpp"

namespace tavrin {

// The search of one game's actions, one after another, as a state machine:
// it searches until positions need an evaluation, hands them out, and goes on
// when they come back. The tree is kept between actions: playing a tile, by
// this search's choice or anyone's, makes that tile's subtree the next root.
// Whoever evaluates (a blocking network call, a batch of many games, a lone
// player's network) only reads the positions. Leaves are valued by the
// network, by random playouts, or by both (`options.leaf_evaluation`).
//
// With `options.leaf_batch` B > 1 a search gathers up to B leaves before
// asking for their evaluations, each path counted as visited (a virtual
// loss) so that the next descent goes elsewhere; a descent that ends on a
// leaf already gathered waits for that leaf's evaluation instead of asking
// twice. With B = 1 every leaf is evaluated before the next descent.
class MoveSearch {
 public:
  MoveSearch(const SearchSettings& settings, random::RandomSource random, Game start);

  using Clock = std::chrono::steady_clock;

  // Begins the search of the current action (a position that is not over):
  // `simulations` of them; a full search (`full`, of two or more root
  // children) mixes in the root noise or runs the Gumbel root. With a
  // `deadline`, no simulation starts after it, once one has run: the search
  // is done then, however many it made.
  void begin_action(std::uint64_t simulations, bool full, std::optional<Clock::time_point> deadline = std::nullopt);
  // Searches on until positions need an evaluation (returned; valid until the
  // last of them is provided) or the action's search is done (empty).
  std::span<const Game* const> advance();
  // The evaluation of pending position `index` of those `advance` returned.
  void provide(std::size_t index, const LeafValues& evaluation);
  // A mixed search's playouts from every pending leaf, drawn from this
  // search's random source; `provide` runs those nobody ran. May run on
  // another thread while the search waits, as long as nothing else touches it.
  void run_playouts();
  // Gives up the action's search where it stands (its pending leaves taken
  // back as if never visited): the tree stays whole, and the next action's
  // search goes on from it.
  void abandon();
  // Whether the pending position is the root (its failure reads "Error
  // evaluating root node: ...").
  bool awaiting_root() const { return phase_ == Phase::kRootPending; }

  // Once an action's search is done: whether its root was a Gumbel root, and
  // its choice: the surviving candidate of a Gumbel root, else the most
  // visited child (ties to the later child, or with UCB1 to the lower tile).
  bool gumbel() const { return gumbel_; }
  std::uint64_t best_tile() const;
  // softmax(log prior + sigma(completed q)) over the root children (Gumbel root only).
  std::vector<float> improved_policy() const { return halving_.improved_policy(root_); }
  // The mean value per player of this action's simulations; none without any.
  std::optional<std::array<float, kPlayers>> searched_value() const;
  std::uint64_t simulations_done() const { return simulations_done_; }

  // Plays a legal `tile`: its subtree becomes the root, or a fresh root when
  // the search never reached it. Ends an action's search.
  void play(std::uint64_t tile);
  const Game& game() const { return game_; }
  // The root: the position of game(), with the subtree kept so far.
  const SearchNode& root() const { return root_; }
  random::Generator& random() { return random_.generator(); }
  // Starts over from `start` with a fresh tree (the random stream goes on).
  void restart(Game start);
  // Draws from a stream of its own seeded from `seed` alone from now on.
  void reseed(std::uint64_t seed) { random_ = random::RandomSource::seeded(seed); }

 private:
  enum class Phase { kIdle, kRootPending, kBeginSimulations, kSimulating, kLeavesPending, kDone };

  // A simulation waiting on an evaluation: its descent, and the earlier
  // gathered simulation whose leaf it shares (its own index when none).
  struct PendingLeaf {
    std::size_t search = 0;
    std::size_t leader = 0;
    bool provided = false;
    bool playouts_ready = false;
    std::array<float, kPlayers> playout_values{};
    std::array<float, kPlayers> values{};
    std::size_t value_count = 0;
  };

  // Descends up to the batch's width; false when the action's search is done.
  bool gather();
  bool may_descend() const;
  bool out_of_time() const;
  void evaluate_with_playouts(bool root, Search* search);
  void note_simulation(const Search& search);
  void run_playouts_of(PendingLeaf& leaf);

  Config config_;
  SelfPlayOptions options_;
  random::RandomSource random_;
  Game game_;
  SearchNode root_;
  std::vector<Search> searches_;  // one scratch descent per leaf of a batch
  std::vector<PendingLeaf> leaves_;
  std::vector<const Game*> pending_;  // the distinct positions of leaves_
  std::vector<std::size_t> pending_leaf_;  // parallel: the leaf that asked
  std::size_t provided_ = 0;
  Phase phase_ = Phase::kIdle;
  bool full_ = true;
  bool gumbel_ = false;
  SequentialHalving halving_;
  std::uint64_t simulations_ = 0;
  std::uint64_t simulations_done_ = 0;
  std::optional<Clock::time_point> deadline_;
  std::array<float, kPlayers> searched_sum_{};
  PlayoutValuer playouts_;
  std::array<float, kPlayers> playout_only_values_{};
  std::vector<float> uniform_priors_;
};

}  // namespace tavrin
