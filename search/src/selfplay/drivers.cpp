#include "selfplay/drivers.hpp"

#include "search/random.hpp"
#include "search/search.hpp"
#include "search/search_texts.hpp"
#include "selfplay/console.hpp"
#include "selfplay/self_play_texts.hpp"

namespace tavrin {
namespace {

constexpr std::uint64_t kTestGameSide = 20;

std::uint8_t report(std::string_view prefix, std::string_view text) {
  std::string line(prefix);
  line += text;
  line += '\n';
  write_stdout(line);
  return kStatusErrorPrinted;
}

std::uint8_t posted_or_reported(const std::optional<std::string>& post_error) {
  return post_error ? report(output::kPostingError, *post_error) : kStatusPosted;
}

}  // namespace

std::uint8_t training_game(Evaluator& network, ResultSink& results, const Config& config) {
  // The module's game: no options, the calling thread's generator.
  SelfPlayGame play(SearchSettings{config, {}, std::nullopt}, random::RandomSource());
  while (const Game* position = play.advance()) {
    const Evaluation evaluation = network.evaluate(*position);
    if (const auto* failure = failure_of(evaluation)) {
      const std::string_view root = play.awaiting_root() ? output::kRootEvaluationError : "";
      return report(output::kTrainingGameError, std::string(root) + failure->display_text);
    }
    play.provide(std::get<LeafValues>(evaluation));
  }
  TrainingRecord record{play.game().history(), play.policies(), play.game().get_payoff()};
  return posted_or_reported(results.post_training_record(record));
}

std::uint8_t test_against_random(Evaluator& network, ResultSink& results, const Config& config) {
  Game game = Game::reset(config.dim);
  while (!game.is_terminal()) {
    std::uint64_t action = 0;
    if (game.current_player() == 0) {
      auto choice = best_action(network, game);
      if (const auto* error = std::get_if<std::string>(&choice)) return report(output::kSearchError, quoted(*error));
      action = std::get<std::uint64_t>(choice);
    } else {
      const auto legal = game.get_legal_tiles();
      action = legal[random::thread_generator().uniform_index(legal.size())];
    }
    apply_chosen_tile(game, action);
  }
  return posted_or_reported(results.post_payoff(game.get_payoff()[0]));
}

std::variant<float, std::string> test_game(Evaluator& candidate, Evaluator& baseline) {
  Game game = Game::reset(kTestGameSide);
  while (!game.is_terminal()) {
    Evaluator& network = game.current_player() == 0 ? candidate : baseline;
    auto choice = best_action(network, game);
    if (const auto* error = std::get_if<std::string>(&choice)) {
      report(output::kSearchError, quoted(*error));
      return std::string(output::kSearchFailed);
    }
    apply_chosen_tile(game, std::get<std::uint64_t>(choice));
  }
  write_stdout(output::kFinishedGame);
  game.board().print_board();
  return game.get_payoff()[0];
}

}  // namespace tavrin
