#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/game.hpp"
#include "search/move_search.hpp"
#include "search/network_output.hpp"
#include "search/placement_walk.hpp"
#include "search/search_settings.hpp"

namespace tavrin {

// A player's search through one whole game: a MoveSearch that follows the
// game it is shown, action after action, keeping the subtree of every action
// it searched or foresaw, and that takes raw network answers (logits) for its
// pending positions. One object per seat of a game.
class PlayerSearch {
 public:
  // Without a seed it draws from the generator of the thread that runs it.
  PlayerSearch(const SearchSettings& settings, Game start, std::optional<std::uint64_t> seed);

  // Brings the search to `game`: when `game` continues the search's own
  // position (same side, its history extends ours), the actions since are
  // played and the subtree they lead to kept; otherwise the search starts
  // over from `game`. Gives whether the tree was kept. Abandons a search in
  // progress.
  bool sync(const Game& game);
  // Whether `game` continues the search's own position (sync would keep the tree).
  bool continued_by(const Game& game) const;
  // A stream of its own from now on, seeded from `seed` alone.
  void reseed(std::uint64_t seed);
  // Begins the search of the current action with `simulations`, done at
  // the `deadline` when one is given.
  void begin(std::uint64_t simulations, std::optional<MoveSearch::Clock::time_point> deadline = std::nullopt);
  // The positions waiting on the network (none once the search is done).
  std::span<const Game* const> advance() { return search_.advance(); }
  // Network answers for every pending position, rows in their order: dim *
  // dim policy logits and 4 value logits relative to the player to move.
  // Unusable answers (wrong count, NaN or infinity on a legal tile or among
  // the values) change nothing and come back as the reason.
  std::optional<std::string> submit(std::span<const float> policy_logits, std::span<const float> value_logits);
  void run_playouts() { search_.run_playouts(); }
  void abandon() { search_.abandon(); }

  std::uint64_t best_tile() const { return search_.best_tile(); }
  void play(std::uint64_t tile) { search_.play(tile); }
  std::uint64_t simulations_done() const { return search_.simulations_done(); }
  const SearchNode& root() const { return search_.root(); }
  const Game& game() const { return search_.game(); }
  std::vector<PlacementVisits> placements() const { return placement_visits(search_.root(), search_.game()); }
  bool planes_last() const { return settings_.config.rep == 2; }
  bool extended_planes() const { return settings_.options.extended_planes; }

 private:
  SearchSettings settings_;
  MoveSearch search_;
  NetworkOutputDecoder decoder_;
};

// The network inputs of `positions`, a row each: the board planes
// (`extended`: six, else the five; planes last or first) into `board_out`,
// and with `extended` the hand entries into `hands_out`.
void write_network_inputs(std::span<const Game* const> positions, bool planes_last, bool extended,
                          std::span<std::uint8_t> board_out, std::span<std::uint8_t> hands_out);

// The first reason the network's answers for `positions` (rows in order)
// cannot be used, or nothing.
std::optional<std::string> find_answer_problem(std::span<const Game* const> positions,
                                               std::span<const float> policy_logits,
                                               std::span<const float> value_logits);

}  // namespace tavrin
