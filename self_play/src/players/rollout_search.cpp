#include "players/rollout_search.hpp"

#include <algorithm>
#include <cmath>

#include "engine/internal_error.hpp"
#include "search/output_texts.hpp"

namespace tavrin::players {
namespace {

// Nodes live in one flat arena; a node's children are a contiguous run.
struct Node {
  std::uint64_t tile = 0;
  std::uint32_t player = 0;  // who played `tile`
  std::uint32_t first_child = 0;
  std::uint32_t child_count = 0;
  std::uint32_t visits = 0;
  double payoff_sum = 0.0;
  bool expanded = false;
};

class Tree {
 public:
  // A guess at the size, capped: a huge simulation count grows the arena as needed.
  explicit Tree(std::uint64_t simulations) { nodes_.reserve(1 + std::min<std::uint64_t>(simulations, 1 << 16) * 8); }

  std::vector<Node>& nodes() { return nodes_; }

  void expand(std::uint32_t index, const Game& game, random::Generator& random) {
    const auto tiles = game.get_legal_tiles();
    const auto first = static_cast<std::uint32_t>(nodes_.size());
    for (std::uint64_t tile : tiles) {
      nodes_.push_back(Node{tile, static_cast<std::uint32_t>(game.current_player())});
    }
    // Unvisited children are tried in a random order.
    for (std::uint32_t i = static_cast<std::uint32_t>(tiles.size()); i > 1; --i) {
      std::swap(nodes_[first + i - 1], nodes_[first + random.uniform_index(i)]);
    }
    Node& node = nodes_[index];
    node.first_child = first;
    node.child_count = static_cast<std::uint32_t>(tiles.size());
    node.expanded = true;
  }

  std::uint32_t select(std::uint32_t index) const {
    const Node& node = nodes_[index];
    const double log_visits = std::log(static_cast<double>(std::max<std::uint32_t>(node.visits, 1)));
    std::uint32_t best = node.first_child;
    double best_score = -1.0;
    for (std::uint32_t child = node.first_child; child < node.first_child + node.child_count; ++child) {
      const Node& c = nodes_[child];
      if (c.visits == 0) return child;
      const double score = c.payoff_sum / c.visits + kRolloutExploration * std::sqrt(log_visits / c.visits);
      if (score > best_score) {
        best_score = score;
        best = child;
      }
    }
    return best;
  }

 private:
  std::vector<Node> nodes_;
};

}  // namespace

void random_playout(Game& game, random::Generator& random) {
  while (!game.is_terminal()) {
    const auto tiles = game.get_legal_tiles();
    const std::uint64_t tile = tiles[random.uniform_index(tiles.size())];
    if (game.apply(tile)) throw InternalError(output::kPlayoutTileRefused);
  }
}

RolloutChoice rollout_search(const Game& game, std::uint64_t simulations, random::Generator& random) {
  if (game.is_terminal()) throw InternalError(output::kRolloutGameOver);
  if (simulations == 0) throw InternalError(output::kRolloutWithoutSimulations);
  Tree tree(simulations);
  auto& nodes = tree.nodes();
  nodes.push_back(Node{});
  tree.expand(0, game, random);
  std::vector<std::uint32_t> path;
  for (std::uint64_t simulation = 0; simulation < simulations; ++simulation) {
    Game scratch = game;
    path.assign(1, 0);
    std::uint32_t index = 0;
    // Descend through expanded nodes; a leaf visited once before is expanded
    // and one of its children taken, so each simulation adds one new level.
    while (!scratch.is_terminal()) {
      if (!nodes[index].expanded) {
        if (nodes[index].visits == 0) break;
        tree.expand(index, scratch, random);
      }
      index = tree.select(index);
      path.push_back(index);
      if (scratch.apply(nodes[index].tile)) throw InternalError(output::kRolloutTileRefused);
    }
    random_playout(scratch, random);
    const auto payoff = scratch.get_payoff();
    for (std::uint32_t on_path : path) {
      Node& node = nodes[on_path];
      ++node.visits;
      node.payoff_sum += payoff[node.player];
    }
  }

  const Node& root = nodes[0];
  RolloutChoice choice;
  choice.visits.reserve(root.child_count);
  for (std::uint32_t child = root.first_child; child < root.first_child + root.child_count; ++child) {
    choice.visits.emplace_back(nodes[child].tile, nodes[child].visits);
  }
  std::sort(choice.visits.begin(), choice.visits.end());
  std::uint32_t most = 0;
  for (const auto& [tile, visits] : choice.visits) {
    if (visits > most) {
      most = visits;
      choice.tile = tile;
    }
  }
  if (most == 0) choice.tile = choice.visits.front().first;
  return choice;
}

}  // namespace tavrin::players
