// libFuzzer target: arbitrary network output through everything that turns
// it into search statistics, without Python. The first byte picks a scenario:
//   softmax          any float pattern: sizes kept, finite rows give shares in
//                    [0, 1] summing to 1 in input order, NaN/+inf/all -inf rows
//                    give NaN everywhere;
//   masked softmax   arbitrary legal lists: out-of-range tiles are internal
//                    errors, other entries exactly 0, legal ones the softmax;
//   decode           replies on real positions, policies of any length, value
//                    arrays of length 0 to 7, repeated on the same node;
//   whole games      training games and games against random players whose
//                    network answers with fuzzed replies and settings: they
//                    end normally with a sound record, report a failed
//                    evaluation, or stop with one of the documented internal
//                    errors.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/internal_error.hpp"
#include "search/network_output.hpp"
#include "search/softmax.hpp"
#include "search_testing/softmax_vectors.hpp"
#include "search_testing/tree.hpp"
#include "selfplay/drivers.hpp"

namespace tavrin {
namespace {

using testing::expand_with_priors;
using testing::masked_softmax;
using testing::softmax;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "network output fuzzer: %s\n", what.c_str());
  std::abort();
}

void require(bool condition, const char* what) {
  if (!condition) fail(what);
}

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr std::array<float, 20> kSpecialFloats = {
    0.0F,  -0.0F, 1.0F,  -1.0F, std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
    kInf,  -kInf, std::numeric_limits<float>::min(), std::numeric_limits<float>::denorm_min(),
    -std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
    88.7F, -88.7F, 103.9F, -104.0F, 1e30F, -1e30F, 0.5F};

// Special values are far more interesting than uniform bit patterns, so most
// draws pick one; the rest reinterpret four raw bytes.
float fuzzed_float(FuzzedDataProvider& input) {
  const auto kind = input.ConsumeIntegral<std::uint8_t>();
  if (kind < 0xC0) return kSpecialFloats[kind % kSpecialFloats.size()];
  return std::bit_cast<float>(input.ConsumeIntegral<std::uint32_t>());
}

std::vector<float> fuzzed_floats(FuzzedDataProvider& input, std::size_t count) {
  std::vector<float> values(count);
  for (float& v : values) v = fuzzed_float(input);
  return values;
}

bool same_bits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

// Equal values, any NaN matching any NaN.
bool same_value(float a, float b) { return (std::isnan(a) && std::isnan(b)) || same_bits(a, b); }

void check_softmax(const std::vector<float>& logits) {
  const std::vector<float> shares = softmax(logits);
  require(shares.size() == logits.size(), "softmax changed the length");
  if (logits.empty()) return;
  const bool poisoned = std::any_of(logits.begin(), logits.end(), [](float v) { return std::isnan(v) || v == kInf; }) ||
                        std::all_of(logits.begin(), logits.end(), [](float v) { return v == -kInf; });
  if (poisoned) {
    require(std::all_of(shares.begin(), shares.end(), [](float s) { return std::isnan(s); }),
            "a NaN, +inf or all -inf row must give NaN everywhere");
    return;
  }
  double total = 0.0;
  for (std::size_t i = 0; i < shares.size(); ++i) {
    require(std::isfinite(shares[i]) && shares[i] >= 0.0F && shares[i] <= 1.0F, "a finite row gave a share outside [0, 1]");
    total += shares[i];
    for (std::size_t j = 0; j < shares.size(); ++j) {
      if (logits[i] > logits[j]) require(shares[i] >= shares[j], "a larger logit got a smaller share");
    }
  }
  const auto top = std::max_element(logits.begin(), logits.end()) - logits.begin();
  require(shares[static_cast<std::size_t>(top)] > 0.0F, "the largest logit got no share");
  require(std::abs(total - 1.0) <= 1e-5 * static_cast<double>(shares.size()), "shares do not sum to 1");
}

void check_masked_softmax(const std::vector<float>& policy, FuzzedDataProvider& input) {
  // Distinct tiles in fuzzed order, some possibly past the policy's end.
  std::vector<std::uint64_t> legal;
  const auto wanted = input.ConsumeIntegralInRange<std::size_t>(0, policy.size() + 2);
  for (std::size_t k = 0; k < wanted; ++k) {
    const auto tile = input.ConsumeIntegralInRange<std::uint64_t>(0, policy.size() + 3);
    if (std::find(legal.begin(), legal.end(), tile) == legal.end()) legal.push_back(tile);
  }
  const bool out_of_range = std::any_of(legal.begin(), legal.end(), [&](std::uint64_t t) { return t >= policy.size(); });
  std::vector<float> result;
  try {
    result = masked_softmax(policy, legal);
  } catch (const InternalError& error) {
    require(out_of_range, "masked_softmax refused an in-range legal list");
    require(std::string_view(error.what()).find("index out of range") != std::string_view::npos,
            "an out-of-range tile must say \"index out of range\"");
    return;
  }
  require(!out_of_range, "masked_softmax accepted a tile past the policy's end");
  require(result.size() == policy.size(), "masked_softmax result has the wrong length");
  std::vector<float> gathered;
  for (std::uint64_t tile : legal) gathered.push_back(policy[tile]);
  const std::vector<float> shares = softmax(gathered);
  for (std::size_t i = 0; i < result.size(); ++i) {
    const auto at = std::find(legal.begin(), legal.end(), i);
    if (at == legal.end()) {
      require(same_bits(result[i], 0.0F), "an illegal tile got a nonzero probability");
    } else {
      require(same_value(result[i], shares[static_cast<std::size_t>(at - legal.begin())]),
              "a legal tile's probability differs from the softmax of the legal logits");
    }
  }
}

// A position reached by playing fuzzed legal tiles on a small board.
Game fuzzed_position(FuzzedDataProvider& input) {
  Game game = Game::reset(input.ConsumeIntegralInRange<std::uint64_t>(4, 8));
  const auto actions = input.ConsumeIntegral<std::uint8_t>();
  for (std::uint8_t a = 0; a < actions && !game.is_terminal(); ++a) {
    const auto legal = game.get_legal_tiles();
    game.apply(legal[input.ConsumeIntegralInRange<std::size_t>(0, legal.size() - 1)]);
  }
  return game;
}

std::size_t fuzzed_policy_length(FuzzedDataProvider& input, std::uint64_t cells) {
  switch (input.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: return input.ConsumeIntegralInRange<std::size_t>(0, cells);  // possibly short
    case 1: return cells + input.ConsumeIntegralInRange<std::size_t>(1, 9);
    default: return cells;
  }
}

std::size_t fuzzed_value_count(FuzzedDataProvider& input) {
  const auto pick = input.ConsumeIntegralInRange<int>(0, 11);
  return pick < 8 ? static_cast<std::size_t>(pick) : 4;
}

struct NodeSnapshot {
  std::uint8_t player;
  std::vector<std::pair<std::uint32_t, float>> children;
  bool operator==(const NodeSnapshot&) const = default;
};

NodeSnapshot snapshot(const SearchNode& node) {
  NodeSnapshot shot{node.player, {}};
  for (const SearchNode& child : node.children) shot.children.emplace_back(child.action, child.prior);
  return shot;
}

void check_decode(const Game& game, FuzzedDataProvider& input) {
  NetworkOutputDecoder decoder;
  SearchNode node;
  const auto legal = game.get_legal_tiles();
  const std::uint64_t cells = game.dim() * game.dim();
  for (int round = 0; round < 2; ++round) {
    const std::vector<float> policy = fuzzed_floats(input, fuzzed_policy_length(input, cells));
    const std::vector<float> value_logits = fuzzed_floats(input, fuzzed_value_count(input));
    const NodeSnapshot before = snapshot(node);
    const bool policy_short = !legal.empty() && legal.back() >= policy.size();
    const bool values_short = value_logits.size() < game.current_player();
    std::vector<float> values;
    try {
      const LeafValues decoded = decoder.decode(game, policy, value_logits);
      values.assign(decoded.values.begin(), decoded.values.end());
      expand_with_priors(node, game, decoded.priors);
    } catch (const InternalError& error) {
      require(policy_short || values_short, "decode refused a reply that covers every legal tile and player");
      require(std::string_view(error.what()).find("index out of range") != std::string_view::npos,
              "a short reply must say \"index out of range\"");
      require(snapshot(node) == before, "a refused reply changed the node");
      continue;
    }
    require(!policy_short && !values_short, "decode accepted a reply too short for the position");
    require(node.player == game.current_player(), "the node does not name the player to move");

    const std::vector<float> priors = masked_softmax(policy, legal);
    for (std::size_t i = 1; i < node.children.size(); ++i) {
      require(node.children[i - 1].action < node.children[i].action, "children are not strictly ascending");
    }
    for (std::uint64_t tile : legal) {
      const SearchNode* child = node.find_child(tile);
      if (priors[tile] > 0.0F) {
        require(child != nullptr && same_bits(child->prior, priors[tile]) && child->visit_count == 0,
                "a tile with a positive prior has no fresh child carrying it");
        require(child->prior <= 1.0F, "a prior above 1");
      } else if (child != nullptr) {
        const auto kept = std::find_if(before.children.begin(), before.children.end(),
                                       [&](const auto& c) { return c.first == tile; });
        require(kept != before.children.end() && same_bits(kept->second, child->prior),
                "a child appeared for a tile without a positive prior");
      }
    }
    for (const SearchNode& child : node.children) {
      require(game.is_legal(child.action), "a child for an illegal tile");
    }

    const std::vector<float> relative = softmax(value_logits);
    require(values.size() == relative.size(), "values have the wrong length");
    for (std::size_t k = 0; k < relative.size(); ++k) {
      require(same_value(values[(k + game.current_player()) % relative.size()], relative[k]),
              "values are not the softmax rotated to absolute players");
    }
  }
}

// A network answering every request from the fuzz input. A header byte of
// 0xFF fails the request like a broken pipe; an exhausted input answers zeros.
class FuzzedNetwork final : public Evaluator {
 public:
  explicit FuzzedNetwork(FuzzedDataProvider& input) : input_(input) {}

  Evaluation evaluate(const Game& game) override {
    const std::uint64_t cells = game.dim() * game.dim();
    const auto header = input_.ConsumeIntegral<std::uint8_t>();
    if (header == 0xFF) return EvaluationFailure{"EOFError: ", "PyErr { EOFError }"};
    if (header < 0x80) {
      // Mostly one value everywhere with a few fuzzed entries: keeps inputs short.
      policy_.assign(cells, (header & 0x20) != 0 ? kSpecialFloats[header % kSpecialFloats.size()] : 0.0F);
      const auto overrides = input_.ConsumeIntegralInRange<std::size_t>(0, 3);
      for (std::size_t i = 0; i < overrides; ++i) {
        policy_[input_.ConsumeIntegralInRange<std::size_t>(0, cells - 1)] = fuzzed_float(input_);
      }
      values_.assign(4, 0.0F);
      if (header & 0x40) values_ = fuzzed_floats(input_, fuzzed_value_count(input_));
    } else {
      policy_ = fuzzed_floats(input_, fuzzed_policy_length(input_, cells));
      values_ = fuzzed_floats(input_, fuzzed_value_count(input_));
    }
    return decoder_.decode(game, policy_, values_);
  }

 private:
  FuzzedDataProvider& input_;
  std::vector<float> policy_;
  std::vector<float> values_;
  NetworkOutputDecoder decoder_;
};

class CheckingSink final : public ResultSink {
 public:
  explicit CheckingSink(std::uint64_t dim) : dim_(dim) {}
  int posts = 0;

  std::optional<std::string> post_training_record(const TrainingRecord& record) override {
    ++posts;
    require(record.moves.size() == record.policies.size(), "one policy per action");
    Game replay = Game::reset(dim_);
    for (std::size_t i = 0; i < record.moves.size(); ++i) {
      const auto [player, tile] = record.moves[i];
      require(static_cast<std::uint64_t>(player) == replay.current_player(), "a move names the wrong player");
      double total = 0.0;
      bool played_is_child = false;
      for (const auto& [child, share] : record.policies[i]) {
        require(std::isfinite(share) && share >= 0.0F && share <= 1.0F, "a share outside [0, 1] in the record");
        require(replay.is_legal(static_cast<std::uint64_t>(child)), "a policy entry for an illegal tile");
        total += share;
        played_is_child = played_is_child || child == tile;
      }
      require(played_is_child, "the played tile is not among the root's children");
      require(total == 0.0 || std::abs(total - 1.0) <= 1e-4, "shares sum neither to 1 nor to 0");
      require(!replay.apply(static_cast<std::uint64_t>(tile)).has_value(), "the record does not replay legally");
    }
    require(replay.is_terminal(), "the record ends before the game does");
    check_payoffs(record.payoffs);
    return std::nullopt;
  }
  std::optional<std::string> post_payoff(float payoff) override {
    ++posts;
    require(payoff == 0.0F || payoff == 1.0F || payoff == 0.5F || payoff == 0.25F || payoff == 1.0F / 3.0F,
            "player 0's payoff is not a share of a win");
    return std::nullopt;
  }

 private:
  static void check_payoffs(const std::array<float, kPlayers>& payoffs) {
    float total = 0.0F;
    for (float p : payoffs) {
      require(std::isfinite(p) && p >= 0.0F && p <= 1.0F, "a payoff outside [0, 1]");
      total += p;
    }
    require(std::abs(total - 1.0F) <= 1e-6F, "payoffs do not sum to 1");
  }
  std::uint64_t dim_;
};

// The internal errors that bad network output or bad settings may cause.
bool is_documented_internal_error(std::string_view message) {
  for (std::string_view known : {"NaN/Inf in UCB score", "assertion failed: visit_dist.len() > 0",
                                 "index out of range", "Dirichlet concentration must be greater than 0"}) {
    if (message.find(known) != std::string_view::npos) return true;
  }
  return false;
}

void play_fuzzed_game(FuzzedDataProvider& input) {
  Config config;
  config.dim = input.ConsumeIntegralInRange<std::uint64_t>(4, 6);
  config.rep = 1;
  config.sims_per_move = input.ConsumeIntegralInRange<std::uint64_t>(0, 4);
  config.sample_moves = input.ConsumeIntegralInRange<std::uint64_t>(0, 40);
  config.c_puct = input.ConsumeBool() ? fuzzed_float(input) : 1.5F;
  config.dirichlet_alpha = input.ConsumeBool() ? static_cast<double>(fuzzed_float(input)) : 0.3;
  config.exploration_fraction = input.ConsumeBool() ? fuzzed_float(input) : 0.25F;
  const bool against_random = input.ConsumeBool();

  FuzzedNetwork network(input);
  CheckingSink sink(config.dim);
  try {
    const std::uint8_t status =
        against_random ? test_against_random(network, sink, config) : training_game(network, sink, config);
    require(status == kStatusPosted ? sink.posts == 1 : status == kStatusErrorPrinted && sink.posts == 0,
            "the status does not match what was posted");
  } catch (const InternalError& error) {
    if (!is_documented_internal_error(error.what())) fail(std::string("unexpected internal error: ") + error.what());
    require(sink.posts == 0, "an aborted game posted a result");
  }
}

}  // namespace
}  // namespace tavrin

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The drivers report failed evaluations on standard output; keep the
  // fuzzer's own output readable.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: tavrin::check_softmax(tavrin::fuzzed_floats(input, input.ConsumeIntegralInRange<std::size_t>(0, 40))); break;
    case 1: {
      const auto policy = tavrin::fuzzed_floats(input, input.ConsumeIntegralInRange<std::size_t>(0, 40));
      tavrin::check_masked_softmax(policy, input);
      break;
    }
    case 2: tavrin::check_decode(tavrin::fuzzed_position(input), input); break;
    default: tavrin::play_fuzzed_game(input); break;
  }
  return 0;
}
