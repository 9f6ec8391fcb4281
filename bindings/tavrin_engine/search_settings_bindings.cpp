#include "tavrin_engine/search_settings_bindings.hpp"

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "python_support/config_reader.hpp"
#include "selfplay/self_play_texts.hpp"
#include "tavrin_engine/bindings.hpp"

namespace tavrin::engine_bindings {
namespace {

using namespace nb::literals;

template <typename T>
T converted(nb::handle value, const char* name, const char* wanted) {
  T out{};
  if (!nb::try_cast<T>(value, out)) {
    throw nb::type_error(output::setting_of_wrong_type(name, wanted, Py_TYPE(value.ptr())->tp_name).c_str());
  }
  return out;
}

std::uint64_t not_negative(nb::handle value, const char* name) {
  const auto number = converted<std::int64_t>(value, name, "an int");
  if (number < 0) throw nb::value_error(output::setting_negative(name, number).c_str());
  return static_cast<std::uint64_t>(number);
}

std::uint32_t count_within(nb::handle value, const char* name, std::int64_t low, std::int64_t high,
                           const char* out_of_range) {
  const auto count = converted<std::int64_t>(value, name, "an int");
  if (count < low || count > high) throw nb::value_error(out_of_range);
  return static_cast<std::uint32_t>(count);
}

float single(nb::handle value, const char* name) {
  return static_cast<float>(converted<double>(value, name, "a number"));
}

std::uint64_t seed_of(nb::handle value) {
  if (!PyIndex_Check(value.ptr())) {
    throw nb::type_error(output::setting_of_wrong_type("seed", "None or an int", Py_TYPE(value.ptr())->tp_name).c_str());
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

const char* leaf_evaluation_name(LeafEvaluation evaluation) {
  switch (evaluation) {
    case LeafEvaluation::kMixed: return "mixed";
    case LeafEvaluation::kPlayouts: return "playouts";
    case LeafEvaluation::kNetwork: break;
  }
  return "network";
}

LeafEvaluation leaf_evaluation_named(const std::string& name) {
  if (name == "network") return LeafEvaluation::kNetwork;
  if (name == "mixed") return LeafEvaluation::kMixed;
  if (name == "playouts") return LeafEvaluation::kPlayouts;
  throw nb::value_error(output::kUnknownLeafEvaluation);
}

// One setting as Python sees it: its name, how it reads and how it is set
// from any value, with the checks and messages of that setting alone (the
// ones that tie settings together are find_settings_problem's).
struct SettingField {
  const char* name;
  bool module_config;     // one of the seven the module reads from its config
  bool whole_games_only;  // read by the pool's whole games, not by a move's search
  nb::object (*get)(const SearchSettings&);
  void (*set)(SearchSettings&, nb::handle);
};

// In the order of the module's config, then the pool's own.
constexpr std::array<SettingField, 24> kFields = {{
    {"dim", true, false, [](const SearchSettings& s) { return nb::cast(s.config.dim); },
     [](SearchSettings& s, nb::handle v) { s.config.dim = not_negative(v, "dim"); }},
    {"rep", true, false, [](const SearchSettings& s) { return nb::cast(s.config.rep); },
     [](SearchSettings& s, nb::handle v) { s.config.rep = not_negative(v, "rep"); }},
    {"sims_per_move", true, false, [](const SearchSettings& s) { return nb::cast(s.config.sims_per_move); },
     [](SearchSettings& s, nb::handle v) { s.config.sims_per_move = not_negative(v, "sims_per_move"); }},
    {"sample_moves", true, false, [](const SearchSettings& s) { return nb::cast(s.config.sample_moves); },
     [](SearchSettings& s, nb::handle v) { s.config.sample_moves = not_negative(v, "sample_moves"); }},
    {"c_puct", true, false, [](const SearchSettings& s) { return nb::cast(s.config.c_puct); },
     [](SearchSettings& s, nb::handle v) { s.config.c_puct = single(v, "c_puct"); }},
    {"dirichlet_alpha", true, false, [](const SearchSettings& s) { return nb::cast(s.config.dirichlet_alpha); },
     [](SearchSettings& s, nb::handle v) {
       s.config.dirichlet_alpha = converted<double>(v, "dirichlet_alpha", "a number");
     }},
    {"exploration_fraction", true, false,
     [](const SearchSettings& s) { return nb::cast(s.config.exploration_fraction); },
     [](SearchSettings& s, nb::handle v) { s.config.exploration_fraction = single(v, "exploration_fraction"); }},
    {"skip_single_tile", false, true, [](const SearchSettings& s) { return nb::cast(s.options.skip_single_tile); },
     [](SearchSettings& s, nb::handle v) {
       s.options.skip_single_tile = converted<bool>(v, "skip_single_tile", "a bool");
     }},
    {"full_search_fraction", false, true,
     [](const SearchSettings& s) { return nb::cast(s.options.full_search_fraction); },
     [](SearchSettings& s, nb::handle v) { s.options.full_search_fraction = single(v, "full_search_fraction"); }},
    {"reduced_sims", false, true, [](const SearchSettings& s) { return nb::cast(s.options.reduced_sims); },
     [](SearchSettings& s, nb::handle v) {
       const auto sims = converted<std::int64_t>(v, "reduced_sims", "an int");
       if (sims < 0) throw nb::value_error(output::kReducedSimsNegative);
       s.options.reduced_sims = static_cast<std::uint64_t>(sims);
     }},
    {"extended_planes", false, false, [](const SearchSettings& s) { return nb::cast(s.options.extended_planes); },
     [](SearchSettings& s, nb::handle v) {
       s.options.extended_planes = converted<bool>(v, "extended_planes", "a bool");
     }},
    {"first_play_reduction", false, false,
     [](const SearchSettings& s) { return nb::cast(s.options.first_play_reduction); },
     [](SearchSettings& s, nb::handle v) {
       s.options.first_play_reduction = v.is_none() ? std::nullopt
                                                    : std::optional<float>(static_cast<float>(converted<double>(
                                                          v, "first_play_reduction", "None or a number")));
     }},
    {"gumbel_candidates", false, false, [](const SearchSettings& s) { return nb::cast(s.options.gumbel_candidates); },
     [](SearchSettings& s, nb::handle v) {
       s.options.gumbel_candidates =
           count_within(v, "gumbel_candidates", 0, kMaxGumbelCandidates, output::kGumbelCandidatesOutOfRange);
     }},
    {"evaluation_cache", false, false, [](const SearchSettings& s) { return nb::cast(s.options.evaluation_cache); },
     [](SearchSettings& s, nb::handle v) {
       const auto entries = converted<std::int64_t>(v, "evaluation_cache", "an int");
       if (entries < 0 || entries > static_cast<std::int64_t>(kMaxEvaluationCacheEntries)) {
         throw nb::value_error(output::kCacheEntriesOutOfRange);
       }
       s.options.evaluation_cache = static_cast<std::uint64_t>(entries);
     }},
    {"leaf_evaluation", false, false,
     [](const SearchSettings& s) { return nb::cast(leaf_evaluation_name(s.options.leaf_evaluation)); },
     [](SearchSettings& s, nb::handle v) {
       s.options.leaf_evaluation = leaf_evaluation_named(converted<std::string>(v, "leaf_evaluation", "a str"));
     }},
    {"playouts", false, false, [](const SearchSettings& s) { return nb::cast(s.options.playouts); },
     [](SearchSettings& s, nb::handle v) {
       s.options.playouts = count_within(v, "playouts", 1, kMaxPlayoutsPerLeaf, output::kPlayoutsPerLeafOutOfRange);
     }},
    {"playout_weight", false, false, [](const SearchSettings& s) { return nb::cast(s.options.playout_weight); },
     [](SearchSettings& s, nb::handle v) { s.options.playout_weight = single(v, "playout_weight"); }},
    {"playout_policy", false, false,
     [](const SearchSettings& s) {
       return nb::cast(s.options.playout_policy == PlayoutPolicy::kLargerPieces ? "larger" : "uniform");
     },
     [](SearchSettings& s, nb::handle v) {
       s.options.playout_policy = playout_policy_named(converted<std::string>(v, "playout_policy", "a str"));
     }},
    {"leaf_batch", false, false, [](const SearchSettings& s) { return nb::cast(s.options.leaf_batch); },
     [](SearchSettings& s, nb::handle v) {
       s.options.leaf_batch = count_within(v, "leaf_batch", 1, kMaxLeafBatch, output::kLeafBatchOutOfRange);
     }},
    {"selection", false, false,
     [](const SearchSettings& s) { return nb::cast(s.options.selection == SelectionRule::kUcb1 ? "ucb1" : "puct"); },
     [](SearchSettings& s, nb::handle v) {
       const auto name = converted<std::string>(v, "selection", "a str");
       if (name != "puct" && name != "ucb1") throw nb::value_error(output::kUnknownSelection);
       s.options.selection = name == "ucb1" ? SelectionRule::kUcb1 : SelectionRule::kPuct;
     }},
    {"searched_value_weight", false, false,
     [](const SearchSettings& s) { return nb::cast(s.options.searched_value_weight); },
     [](SearchSettings& s, nb::handle v) { s.options.searched_value_weight = single(v, "searched_value_weight"); }},
    {"placement_shares", false, false, [](const SearchSettings& s) { return nb::cast(s.options.placement_shares); },
     [](SearchSettings& s, nb::handle v) {
       s.options.placement_shares = converted<bool>(v, "placement_shares", "a bool");
     }},
    {"opening_sample_actions", false, false,
     [](const SearchSettings& s) { return nb::cast(s.options.opening_sample_actions); },
     [](SearchSettings& s, nb::handle v) {
       s.options.opening_sample_actions = count_within(v, "opening_sample_actions", 0, kMaxOpeningSampleActions,
                                                       output::kOpeningActionsOutOfRange);
     }},
    {"seed", false, false, [](const SearchSettings& s) { return nb::cast(s.seed); },
     [](SearchSettings& s, nb::handle v) { s.seed = v.is_none() ? std::nullopt : std::optional(seed_of(v)); }},
}};

const SettingField* field_named(std::string_view name) {
  for (const SettingField& field : kFields) {
    if (name == field.name) return &field;
  }
  return nullptr;
}

// The defaults of a te.SearchSettings: a move chosen as a player chooses it
// (no root noise, no sampling, the most visited tile).
SearchSettings python_defaults() {
  SearchSettings settings;
  settings.config = Config{.dim = 0, .rep = 1, .sims_per_move = 32, .sample_moves = 0, .c_puct = 1.5F,
                           .dirichlet_alpha = 0.5, .exploration_fraction = 0.0F};
  return settings;
}

void check(const SearchSettings& settings, bool whole_games) {
  if (auto problem = find_settings_problem(settings, whole_games)) throw nb::value_error(problem->c_str());
}

// `settings` with `changes` (a keyword per setting) made, all checked
// together; with `need_dim`, the changes must give the board side.
SearchSettings changed(SearchSettings settings, const nb::kwargs& changes, bool need_dim) {
  bool dim_given = false;
  for (auto [key, value] : changes) {
    const auto name = nb::cast<std::string>(key);
    const SettingField* field = field_named(name);
    if (field == nullptr) throw nb::type_error(output::unknown_setting(name).c_str());
    field->set(settings, value);
    dim_given = dim_given || name == "dim";
  }
  if (need_dim && !dim_given) throw nb::type_error(output::kSettingsWithoutDim);
  check(settings, true);
  return settings;
}

nb::tuple state_of(const SearchSettings& settings) {
  nb::list values;
  for (const SettingField& field : kFields) values.append(field.get(settings));
  return nb::tuple(values);
}

// An attribute, or nothing when the object has none; any other failure of
// the access propagates.
std::optional<nb::object> optional_attribute(nb::handle source, const char* name) {
  PyObject* value = PyObject_GetAttrString(source.ptr(), name);
  if (value != nullptr) return nb::steal(value);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw nb::python_error();
  PyErr_Clear();
  return std::nullopt;
}

}  // namespace

PlayoutPolicy playout_policy_named(const std::string& name) {
  if (name == "uniform") return PlayoutPolicy::kUniform;
  if (name == "larger") return PlayoutPolicy::kLargerPieces;
  throw nb::value_error(output::kUnknownPlayoutPolicy);
}

SearchSettings settings_from(nb::handle source, bool whole_games) {
  SearchSettings settings = python_defaults();
  if (nb::isinstance<SearchSettings>(source)) {
    settings = nb::cast<const SearchSettings&>(source);
  } else {
    auto config = py::read_config(source.ptr());
    if (auto* error = std::get_if<py::PyError>(&config)) {
      std::move(*error).restore();
      throw nb::python_error();
    }
    settings.config = std::get<Config>(config);
    for (const SettingField& field : kFields) {
      if (field.module_config || (field.whole_games_only && !whole_games)) continue;
      if (auto value = optional_attribute(source, field.name)) field.set(settings, *value);
    }
  }
  if (!whole_games) {
    const SearchSettings defaults = python_defaults();
    settings.options.skip_single_tile = defaults.options.skip_single_tile;
    settings.options.full_search_fraction = defaults.options.full_search_fraction;
    settings.options.reduced_sims = defaults.options.reduced_sims;
  }
  check(settings, whole_games);
  return settings;
}

void bind_search_settings(nb::module_& module) {
  auto settings_class = nb::class_<SearchSettings>(
      module, "SearchSettings",
      "What one search reads, whoever runs it: SearchPool, MoveSearch and the tavrin_self_play module (which "
      "reads the first seven) take it. SearchSettings(dim=..., **settings); every setting is an attribute, and "
      "a value of the wrong type or out of range is refused when set. The defaults choose a move as a player "
      "does: no root noise, no sampling, the most visited tile. Real-valued settings are kept in single precision "
      "where the search reads them so. The settings, in order: dim (required), rep (1), sims_per_move (32), "
      "sample_moves (0), c_puct (1.5), dirichlet_alpha (0.5), exploration_fraction (0.0), skip_single_tile "
      "(False), full_search_fraction (1.0), reduced_sims (0), extended_planes (False), first_play_reduction "
      "(None), gumbel_candidates (0), evaluation_cache (0), leaf_evaluation ('network'), playouts (1), "
      "playout_weight (0.5), playout_policy ('uniform'), leaf_batch (1), selection ('puct'), "
      "searched_value_weight (0.0), placement_shares (False), opening_sample_actions (0), seed (None). Beyond "
      "the module's seven: "
      "skip_single_tile (default False) plays one-tile actions without search or network call, recording "
      "the target a search would give (all on that tile); full_search_fraction (1.0) below 1 gives the "
      "other actions reduced_sims (0) simulations and no target; extended_planes (False) sends "
      "Game.state(extended=True) planes to the network; first_play_reduction (None) values an unvisited "
      "child at its parent's network value minus this (None: at 0, the module's rule); gumbel_candidates "
      "(0) of at least 2 gives every full search of two or more root children a Gumbel root: that many "
      "candidates by Gumbel noise plus log prior (no noise without exploration_fraction), sequential "
      "halving of the simulations over them, the surviving candidate played and softmax(log prior + "
      "sigma(completed Q)) recorded as the target; seed (None) gives game n its own random stream seeded "
      "from (seed, n), so that the same games come out however they are shared among pools (None: the "
      "system's entropy); evaluation_cache (0) keeps up to that many network answers for positions reached "
      "again, and lets the games of one batch that wait on one position share its row; leaf_evaluation "
      "('network') values a leaf by the network, by 'playouts' (uniform priors, the mean payoff of "
      "`playouts` (1) random playouts to the end; no network call at all) or 'mixed' (the network's priors, "
      "(1 - playout_weight) * its value + playout_weight (0.5) * the playouts' mean payoff; the playouts of "
      "a batch run on a thread of their own while the caller computes its answers); selection ('puct') "
      "'ucb1' descends by UCB1 with c_puct as its constant, unvisited children first in random order, and "
      "plays the most visited tile, ties to the lower; opening_sample_actions (0) draws each player's first "
      "that many actions from the search's policy (visit shares, or a Gumbel root's improved policy) "
      "instead of taking its best; placement_shares (False) gives each record, per action, the whole "
      "placements its search went through: (squares, share among its simulations that laid a whole piece, "
      "mean value for the placing player), most visited first, the orders that lay the same squares merged; "
      "searched_value_weight (0.0) blends that share of each searched action's mean backed-up value per "
      "player into its position's value target, beside the game's outcome; playout_policy ('uniform') or "
      "'larger', each piece's placement drawn in proportion to its size squared; leaf_batch (1) leaves gathered "
      "under a virtual loss for one network call.");
  settings_class
      .def("__init__",
           [](SearchSettings* self, const nb::kwargs& settings) {
             new (self) SearchSettings(changed(python_defaults(), settings, true));
           })
      .def(
          "replace", [](const SearchSettings& self, const nb::kwargs& changes) { return changed(self, changes, false); },
          "A copy with the settings given by keyword changed.")
      .def("__copy__", [](const SearchSettings& self) { return self; })
      .def("__deepcopy__", [](const SearchSettings& self, nb::handle) { return self; }, "memo"_a)
      .def("__eq__",
           [](const SearchSettings& self, nb::handle other) {
             return nb::isinstance<SearchSettings>(other) &&
                    state_of(self).equal(state_of(nb::cast<const SearchSettings&>(other)));
           })
      .def("__repr__",
           [](const SearchSettings& self) {
             std::string text = "SearchSettings(";
             for (const SettingField& field : kFields) {
               if (&field != kFields.data()) text += ", ";
               text += std::string(field.name) + "=" + nb::cast<std::string>(nb::repr(field.get(self)));
             }
             return text + ")";
           })
      .def("__getstate__", &state_of)
      .def("__setstate__", [](SearchSettings* self, const nb::tuple& state) {
        SearchSettings settings = python_defaults();
        if (state.size() != kFields.size()) throw nb::value_error("SearchSettings: a pickled state of another version");
        for (std::size_t i = 0; i < kFields.size(); ++i) kFields[i].set(settings, state[i]);
        new (self) SearchSettings(settings);
      });
  settings_class.attr("__hash__") = nb::none();  // equal by value, and changeable
  for (const SettingField& field : kFields) {
    settings_class.def_prop_rw(
        field.name, [get = field.get](const SearchSettings& self) { return get(self); },
        [set = field.set](SearchSettings& self, nb::handle value) { set(self, value); });
  }
}

}  // namespace tavrin::engine_bindings
