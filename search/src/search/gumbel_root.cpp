#include "search/gumbel_root.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tavrin {
namespace {

float child_q(const SearchNode& child, float unvisited_q) {
  return child.visit_count > 0 ? child.value_sum / static_cast<float>(child.visit_count) : unvisited_q;
}

// The network's value of the root blended with the visited children's q,
// weighted by their priors: what an unvisited child is taken to be worth.
float mixed_value(const SearchNode& root) {
  float visits = 0.0F;
  float visited_prior = 0.0F;
  float weighted_q = 0.0F;
  for (const SearchNode& child : root.children) {
    if (child.visit_count == 0) continue;
    visits += static_cast<float>(child.visit_count);
    visited_prior += child.prior;
    weighted_q += child.prior * child_q(child, 0.0F);
  }
  if (visits == 0.0F || visited_prior <= 0.0F) return root.value_estimate;
  return (root.value_estimate + visits * weighted_q / visited_prior) / (1.0F + visits);
}

// Gumbel(0, 1) from a uniform draw kept strictly inside (0, 1).
float gumbel(random::Generator& random) {
  const float uniform = random.uniform_float() + 0x1.0p-24F;
  return -std::log(-std::log(uniform));
}

}  // namespace

float sigma_scale(const SearchNode& root) {
  std::uint32_t most = 0;
  for (const SearchNode& child : root.children) most = std::max(most, child.visit_count);
  return kGumbelVisitScale + static_cast<float>(most);
}

void SequentialHalving::start(const SearchNode& root, std::uint64_t simulations, std::uint32_t candidates,
                              bool noise, random::Generator& random) {
  const std::size_t children = root.children.size();
  noisy_logits_.resize(children);
  for (std::size_t c = 0; c < children; ++c) {
    noisy_logits_[c] = std::log(root.children[c].prior) + (noise ? gumbel(random) : 0.0F);
  }
  remaining_.resize(children);
  std::iota(remaining_.begin(), remaining_.end(), std::size_t{0});
  const std::size_t kept = std::min<std::size_t>(std::max<std::uint32_t>(candidates, 1), children);
  std::partial_sort(remaining_.begin(), remaining_.begin() + static_cast<std::ptrdiff_t>(kept), remaining_.end(),
                    [&](std::size_t a, std::size_t b) { return noisy_logits_[a] > noisy_logits_[b]; });
  remaining_.resize(kept);
  budget_ = simulations;
  used_ = 0;
  phases_ = kept > 1 ? static_cast<std::uint64_t>(std::ceil(std::log2(static_cast<double>(kept)))) : 1;
  phase_step_ = 0;
  phase_length_ = std::max<std::uint64_t>(1, budget_ / (phases_ * kept)) * kept;
}

float SequentialHalving::score(const SearchNode& root, std::size_t child, float scale, float unvisited_q) const {
  return noisy_logits_[child] + scale * child_q(root.children[child], unvisited_q);
}

void SequentialHalving::halve(const SearchNode& root) {
  const float scale = sigma_scale(root);
  const float unvisited_q = mixed_value(root);
  scores_.resize(root.children.size());
  for (std::size_t child : remaining_) scores_[child] = score(root, child, scale, unvisited_q);
  std::stable_sort(remaining_.begin(), remaining_.end(),
                   [&](std::size_t a, std::size_t b) { return scores_[a] > scores_[b]; });
  remaining_.resize((remaining_.size() + 1) / 2);
  phase_step_ = 0;
  phase_length_ = std::max<std::uint64_t>(1, budget_ / (phases_ * remaining_.size())) * remaining_.size();
}

std::optional<std::size_t> SequentialHalving::next_child(const SearchNode& root) {
  if (remaining_.size() < 2 || used_ >= budget_) return std::nullopt;
  if (phase_step_ == phase_length_) {
    halve(root);
    if (remaining_.size() < 2) return std::nullopt;
  }
  const std::size_t child = remaining_[phase_step_ % remaining_.size()];
  ++phase_step_;
  ++used_;
  return child;
}

std::size_t SequentialHalving::chosen_child(const SearchNode& root) const {
  const float scale = sigma_scale(root);
  const float unvisited_q = mixed_value(root);
  std::size_t best = remaining_.front();
  float best_score = score(root, best, scale, unvisited_q);
  for (std::size_t child : remaining_) {
    const float candidate = score(root, child, scale, unvisited_q);
    if (candidate > best_score) {
      best = child;
      best_score = candidate;
    }
  }
  return best;
}

std::vector<float> SequentialHalving::improved_policy(const SearchNode& root) const {
  const float scale = sigma_scale(root);
  const float unvisited_q = mixed_value(root);
  std::vector<float> policy(root.children.size());
  float largest = -INFINITY;
  for (std::size_t c = 0; c < policy.size(); ++c) {
    const SearchNode& child = root.children[c];
    policy[c] = std::log(child.prior) + scale * child_q(child, unvisited_q);
    largest = std::max(largest, policy[c]);
  }
  float total = 0.0F;
  for (float& entry : policy) {
    entry = std::exp(entry - largest);
    total += entry;
  }
  for (float& entry : policy) entry /= total;
  return policy;
}

}  // namespace tavrin
