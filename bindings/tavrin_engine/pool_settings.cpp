#include "tavrin_engine/pool_settings.hpp"

#include <nanobind/stl/string.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "python_support/config_reader.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin::engine_bindings {
namespace {

namespace nb = nanobind;

// The attribute, or nothing when the object has none; any other failure of
// the access propagates.
std::optional<nb::object> optional_attribute(nb::handle source, const char* name) {
  PyObject* value = PyObject_GetAttrString(source.ptr(), name);
  if (value != nullptr) return nb::steal(value);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw nb::python_error();
  PyErr_Clear();
  return std::nullopt;
}

template <typename T>
T converted(const nb::object& value, const char* name, const char* wanted) {
  T out{};
  if (!nb::try_cast<T>(value, out)) {
    throw nb::type_error(output::setting_of_wrong_type(name, wanted, Py_TYPE(value.ptr())->tp_name).c_str());
  }
  return out;
}

// An int setting within [low, high]; `out_of_range` otherwise.
std::uint32_t count_within(const nb::object& value, const char* name, std::int64_t low, std::int64_t high,
                           const char* out_of_range) {
  const auto count = converted<std::int64_t>(value, name, "an int");
  if (count < low || count > high) throw nb::value_error(out_of_range);
  return static_cast<std::uint32_t>(count);
}

// Present and not None.
std::optional<nb::object> given_attribute(nb::handle source, const char* name) {
  auto value = optional_attribute(source, name);
  if (value && value->is_none()) return std::nullopt;
  return value;
}

std::uint64_t seed_of(const nb::object& value) {
  if (!PyIndex_Check(value.ptr())) {
    const char* given = Py_TYPE(value.ptr())->tp_name;
    throw nb::type_error(output::setting_of_wrong_type("seed", "None or an int", given).c_str());
  }
  nb::object index = nb::steal(PyNumber_Index(value.ptr()));
  if (!index.is_valid()) throw nb::python_error();
  const unsigned long long seed = PyLong_AsUnsignedLongLong(index.ptr());
  if (seed == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    throw nb::value_error(output::kSeedOutOfRange);
  }
  return seed;
}

}  // namespace

PlayoutPolicy playout_policy_named(const std::string& name) {
  if (name == "uniform") return PlayoutPolicy::kUniform;
  if (name == "larger") return PlayoutPolicy::kLargerPieces;
  throw nb::value_error(output::kUnknownPlayoutPolicy);
}

SearchSettings read_pool_settings(nb::handle source, bool whole_games) {
  SearchSettings settings;
  auto config = py::read_config(source.ptr());
  if (auto* error = std::get_if<py::PyError>(&config)) {
    std::move(*error).restore();
    throw nb::python_error();
  }
  settings.config = std::get<Config>(config);

  SelfPlayOptions& options = settings.options;
  if (whole_games) {
    if (auto value = optional_attribute(source, "skip_single_tile")) {
      options.skip_single_tile = converted<bool>(*value, "skip_single_tile", "a bool");
    }
    if (auto value = optional_attribute(source, "full_search_fraction")) {
      options.full_search_fraction = static_cast<float>(converted<double>(*value, "full_search_fraction", "a number"));
    }
    if (auto value = optional_attribute(source, "reduced_sims")) {
      const auto sims = converted<std::int64_t>(*value, "reduced_sims", "an int");
      if (sims < 0) throw nb::value_error(output::kReducedSimsNegative);
      options.reduced_sims = static_cast<std::uint64_t>(sims);
    }
  }
  if (auto value = optional_attribute(source, "extended_planes")) {
    options.extended_planes = converted<bool>(*value, "extended_planes", "a bool");
  }
  if (auto value = given_attribute(source, "first_play_reduction")) {
    options.first_play_reduction =
        static_cast<float>(converted<double>(*value, "first_play_reduction", "None or a number"));
  }
  if (auto value = optional_attribute(source, "gumbel_candidates")) {
    options.gumbel_candidates =
        count_within(*value, "gumbel_candidates", 0, kMaxGumbelCandidates, output::kGumbelCandidatesOutOfRange);
  }
  if (auto value = optional_attribute(source, "leaf_evaluation")) {
    const auto name = converted<std::string>(*value, "leaf_evaluation", "a str");
    if (name == "network") {
      options.leaf_evaluation = LeafEvaluation::kNetwork;
    } else if (name == "mixed") {
      options.leaf_evaluation = LeafEvaluation::kMixed;
    } else if (name == "playouts") {
      options.leaf_evaluation = LeafEvaluation::kPlayouts;
    } else {
      throw nb::value_error(output::kUnknownLeafEvaluation);
    }
  }
  if (auto value = optional_attribute(source, "playouts")) {
    options.playouts_per_leaf =
        count_within(*value, "playouts", 1, kMaxPlayoutsPerLeaf, output::kPlayoutsPerLeafOutOfRange);
  }
  if (auto value = optional_attribute(source, "playout_weight")) {
    options.playout_weight = static_cast<float>(converted<double>(*value, "playout_weight", "a number"));
  }
  if (auto value = optional_attribute(source, "playout_policy")) {
    options.playout_policy = playout_policy_named(converted<std::string>(*value, "playout_policy", "a str"));
  }
  if (auto value = optional_attribute(source, "leaf_batch")) {
    options.leaf_batch = count_within(*value, "leaf_batch", 1, kMaxLeafBatch, output::kLeafBatchOutOfRange);
  }
  if (auto value = optional_attribute(source, "opening_sample_actions")) {
    options.opening_sample_actions =
        count_within(*value, "opening_sample_actions", 0, kMaxOpeningSampleActions, output::kOpeningActionsOutOfRange);
  }
  if (auto value = optional_attribute(source, "placement_shares")) {
    options.record_placements = converted<bool>(*value, "placement_shares", "a bool");
  }
  if (auto value = optional_attribute(source, "searched_value_weight")) {
    options.searched_value_weight =
        static_cast<float>(converted<double>(*value, "searched_value_weight", "a number"));
  }
  if (auto value = optional_attribute(source, "selection")) {
    const auto name = converted<std::string>(*value, "selection", "a str");
    if (name != "puct" && name != "ucb1") throw nb::value_error(output::kUnknownSelection);
    options.selection = name == "ucb1" ? SelectionRule::kUcb1 : SelectionRule::kPuct;
  }
  if (auto value = given_attribute(source, "seed")) settings.seed = seed_of(*value);
  if (auto value = optional_attribute(source, "evaluation_cache")) {
    const auto entries = converted<std::int64_t>(*value, "evaluation_cache", "an int");
    if (entries < 0 || entries > static_cast<std::int64_t>(kMaxEvaluationCacheEntries)) throw nb::value_error(output::kCacheEntriesOutOfRange);
    options.evaluation_cache_entries = static_cast<std::uint64_t>(entries);
  }

  if (auto problem = find_settings_problem(settings, whole_games)) throw nb::value_error(problem->c_str());
  return settings;
}

}  // namespace tavrin::engine_bindings
