#include "selfplay/evaluation_cache.hpp"

#include <bit>

#include "engine/internal_error.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {

EvaluationCache::EvaluationCache(std::size_t entries) {
  if (entries == 0) return;
  slots_.resize(std::bit_ceil(entries));
  mask_ = slots_.size() - 1;
}

std::optional<LeafValues> EvaluationCache::find(std::uint64_t key, std::size_t legal_tiles) {
  if (!enabled()) return std::nullopt;
  ++lookups_;
  const Slot& slot = slots_[key & mask_];
  if (!slot.used || slot.key != key || slot.priors.size() != legal_tiles) return std::nullopt;
  ++hits_;
  return LeafValues{slot.priors, slot.values};
}

void EvaluationCache::store(std::uint64_t key, const LeafValues& answer) {
  if (!enabled()) return;
  if (answer.values.size() != kPlayers) throw InternalError(output::kCachedValuesWrongSize);
  Slot& slot = slots_[key & mask_];
  slot.used = true;
  slot.key = key;
  slot.priors.assign(answer.priors.begin(), answer.priors.end());
  std::copy(answer.values.begin(), answer.values.end(), slot.values.begin());
}

}  // namespace tavrin
