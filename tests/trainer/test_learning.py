"""Learning itself, end to end: a two-minute run on a small board must end
clearly stronger than a fixed player. A change that breaks the examples, the
targets, the training or the search shows here even when every unit passes."""

from engine_marks import needs_engine

from tavrin_trainer.evaluation.arena import play_match
from tavrin_trainer.evaluation.players import NetworkPlayer, RandomPlayer
from tavrin_trainer.generation_loop import run_training
from tavrin_trainer.core.settings.train_settings import TrainSettings


@needs_engine
def test_a_short_seeded_run_beats_random_players_by_several_standard_errors(tmp_path):
    settings = TrainSettings(run_dir=str(tmp_path / "run"), dim=7, channels=16, blocks=1, sims_per_move=16,
                             games_per_generation=32, train_steps=40, generations=4, warm_start_games=100,
                             warm_start_steps=150, replay_capacity=20000, time_limit_minutes=0,
                             eval_random_games=0, eval_greedy_games=0, saved_games=0, seed=3)
    run_training(settings, show_progress=False)
    network = NetworkPlayer.from_checkpoint(tmp_path / "run" / "checkpoints" / "generation-0004.pt")
    result = play_match(network, RandomPlayer(), 200, 7, workers=2, seed=[9, 4])
    # Parity is 0.25; this run scores about 0.45, the untrained network about 0.06.
    assert result.mean > 0.25 + 4 * result.stderr, result.describe()
