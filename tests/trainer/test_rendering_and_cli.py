import xml.etree.ElementTree as ElementTree
from dataclasses import fields

import numpy as np
import pytest
from engine_marks import needs_engine

from tavrin_trainer.cli import eval as cli_eval
from tavrin_trainer.cli import render as cli_render
from tavrin_trainer.cli import train as cli_train
from tavrin_trainer.core.run_folder.run_directory import RunDirectory, save_checkpoint
from tavrin_trainer.core.pictures.board_drawing import outline_segments, write_rendering
from tavrin_trainer.core.run_folder.saved_games import SavedGame
from tavrin_trainer.core.settings.train_settings import PRESETS, TrainSettings, flag_name
from tavrin_trainer.evaluation import players
from tavrin_trainer.learning.network import NetworkShape, TavrinNet


@pytest.mark.parametrize("cells, expected", [
    ({(0, 0): 0}, 4),                  # a lone square
    ({(0, 0): 0, (0, 1): 0}, 6),       # a domino: no line between its squares
    ({(1, 1): 0, (2, 2): 0}, 8),       # two squares touching at a corner
    ({(0, 0): 0, (0, 1): 1}, 7),       # two owners side by side keep the line between them
])
def test_outlines_surround_each_piece(cells, expected):
    owner = np.full((4, 4), -1)
    for (r, c), player in cells.items():
        owner[r, c] = player
    assert len(outline_segments(owner)) == expected


def game():
    return SavedGame(dim=5, moves=[(0, 0), (0, 5), (1, 4), (2, 24), (3, 20)], payoffs=[1, 0, 0, 0], generation=3)


def test_games_render_as_svg_and_png(tmp_path):
    write_rendering(game(), tmp_path / "board.svg")
    svg = ElementTree.parse(tmp_path / "board.svg").getroot()
    rects = [e for e in svg.iter() if e.tag.endswith("rect")]
    assert len(rects) == 1 + 25
    assert sum(1 for r in rects if r.get("fill") != "#f2f2f2") == 1 + 5  # background + placed squares
    write_rendering(game(), tmp_path / "board.png")
    assert (tmp_path / "board.png").read_bytes()[:4] == b"\x89PNG"
    with pytest.raises(ValueError, match="use .svg or .png"):
        write_rendering(game(), tmp_path / "board.gif")


def test_render_command_names_what_is_missing(tmp_path, capsys):
    with pytest.raises(SystemExit):
        cli_render.main([str(tmp_path)])
    assert "no saved games" in capsys.readouterr().err
    (tmp_path / "games").mkdir()
    (tmp_path / "games" / "generation-0003.jsonl").write_text(game().to_json() + "\n")
    assert cli_render.main([str(tmp_path), "--game", "0", "--output", str(tmp_path / "one.png"),
                            "--format", "png"]) == 0
    assert (tmp_path / "one.png").exists()
    with pytest.raises(SystemExit):
        cli_render.main([str(tmp_path), "--game", "4"])


def test_train_help_explains_every_setting(capsys):
    with pytest.raises(SystemExit):
        cli_train.main(["--help"])
    text = " ".join(capsys.readouterr().out.split())
    for f in fields(TrainSettings):
        assert f"--{flag_name(f.name)}" in text
        assert " ".join(f.metadata["help"].split())[:40] in text


@pytest.mark.parametrize("flags, message", [
    (["--rep", "3"], "--rep must be 1 or 2"),
    (["--workers", "0"], "--workers must be at least 1"),
    (["--sims-per-move", "0"], "--sims-per-move must be at least 1"),
    (["--dim", "eight"], "invalid int value"),
    (["--dim", "200"], "--dim must be 5 to 128"),
    (["--learning-rate", "nan"], "--learning-rate must be a finite number"),
    (["--time-limit-minutes", "inf"], "--time-limit-minutes must be a finite number"),
    (["--board-schedule", "200:3"], "side 5 to 128"),
    (["--warm-start-teacher", "rollout"], "greedy or rollout:N"),
    (["--gumbel-candidates", "1"], "--gumbel-candidates must be 0 (off) or 2"),
    (["--train-precision", "fp16"], "--train-precision must be auto, fp32 or bf16"),
    (["--init", "no-such-run"], "--init no-such-run: no checkpoint or run directory"),
])
def test_bad_train_flags_are_refused_before_anything_starts(flags, message, capsys, tmp_path):
    with pytest.raises(SystemExit):
        cli_train.main(flags + ["--run-dir", str(tmp_path / "run")])
    assert message in capsys.readouterr().err
    assert not (tmp_path / "run").exists()  # nothing claimed: the next try may choose anew


@needs_engine
def test_eval_command_scores_seat_rotated_matches_and_rates_a_run(tmp_path, capsys):
    run = RunDirectory(tmp_path / "run")
    for generation in (0, 1):
        save_checkpoint(run.checkpoint_path(generation), {"model": TavrinNet(NetworkShape(8, 1)).state_dict(),
                                                          "shape": {"channels": 8, "blocks": 1}, "dim": 6})
    assert cli_eval.main([str(run.root), "--opponent", "random", "--opponent", str(run.checkpoint_path(0)),
                          "--games", "6", "--workers", "2", "--dim", "6", "--quiet", "--seed", "1"]) == 0
    out = capsys.readouterr().out
    assert "generation-0001 vs 3x random on side 6: " in out and "over 6 games, seats rotated" in out
    assert "generation-0001 vs 3x generation-0000 on side 6" in out

    # Without --dim, the side the networks were trained for.
    assert cli_eval.main(["--ladder", str(run.root), "--ladder-players", "random,greedy", "--rounds", "1",
                          "--workers", "1", "--quiet"]) == 0
    assert "on side 6" in capsys.readouterr().out
    table = (run.root / "ladder.txt").read_text()
    assert all(name in table for name in ("generation-0000", "generation-0001", "random", "greedy"))
    assert (run.plot_dir / "ladder.png").read_bytes()[:4] == b"\x89PNG"


@needs_engine
def test_eval_plays_the_same_games_through_onnx_runtime_as_through_torch(tmp_path, capsys, monkeypatch):
    pytest.importorskip("onnxruntime")
    built = []
    make = players.make_player_inference
    monkeypatch.setattr(players, "make_player_inference", lambda model, backend, *rest: built.append(backend) or
                        make(model, backend, *rest))
    checkpoint = tmp_path / "net.pt"
    save_checkpoint(checkpoint, {"model": TavrinNet(NetworkShape(8, 1)).state_dict(),
                                 "shape": {"channels": 8, "blocks": 1}, "dim": 6})
    lines = []
    for backend in ("fp32", "onnx"):
        assert cli_eval.main([str(checkpoint), "--opponent", "greedy", "--games", "8", "--dim", "6", "--workers", "1",
                              "--simulations", "6", "--seed", "3", "--quiet", "--inference", backend]) == 0
        out = capsys.readouterr().out
        assert f"run with {backend} inference" in out
        lines.append(out.split("\n")[1].partition("; time per action")[0])  # times differ, results must not
    assert lines[0] == lines[1] and "net@6 vs 3x greedy on side 6" in lines[0]
    assert built == ["fp32", "onnx"]


@pytest.mark.parametrize("flags, message", [
    (["greedy", "--opponent", "rollout:x"], "rollout:N"),
    (["greedy", "--dim", "4"], "--dim must be 5 to 128"),
    (["greedy", "--first-play-reduction", "0.1"], "give --simulations too"),
    ([], "either a candidate or --ladder"),
    (["no-such-run"], "no checkpoint or run directory"),
])
def test_bad_eval_arguments_are_refused(flags, message, capsys):
    with pytest.raises(SystemExit):
        cli_eval.main(flags)
    assert message in capsys.readouterr().err


def test_a_checkpoint_without_its_network_shape_is_named_not_a_traceback(tmp_path, capsys):
    bare = tmp_path / "bare.pt"
    save_checkpoint(bare, {"model": TavrinNet(NetworkShape(8, 1)).state_dict()})
    with pytest.raises(SystemExit):
        cli_eval.main([str(bare), "--games", "1"])
    assert f"{bare} does not record its network shape" in capsys.readouterr().err


def test_a_preset_is_as_if_typed_and_flags_beside_it_win(tmp_path, monkeypatch):
    seen = {}
    monkeypatch.setattr(cli_train, "train_from_settings", lambda settings, show_progress: seen.update(s=settings))
    cli_train.main(["--preset", "full-board", "--generations", "3", "--run-dir", str(tmp_path / "run")])
    settings = seen["s"]
    assert (settings.dim, settings.gumbel_candidates, settings.playouts, settings.generations) == (20, 16, 1, 3)
    assert all(getattr(settings, name) == value for name, value in PRESETS["full-board"].items()
               if name != "generations")
