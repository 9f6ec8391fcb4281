import numpy as np
import pytest
import tavrin_engine as te
from test_network_and_training import random_examples

from tavrin_trainer.learning.examples import Examples
from tavrin_trainer.learning.replay_buffer import ReplayBuffer


def test_a_full_buffer_keeps_the_newest_positions_across_save_and_load(tmp_path):
    buffer = ReplayBuffer(capacity=10, dim=5)
    first, second = random_examples(7, 5, seed=1), random_examples(7, 5, seed=2)
    buffer.add(first)
    buffer.add(second)
    assert len(buffer) == 10
    buffer.save(tmp_path / "replay.npz")
    loaded = ReplayBuffer.load(tmp_path / "replay.npz", capacity=10, dim=5)
    kept = sorted(loaded.planes[i].tobytes() for i in range(len(loaded)))
    newest = sorted([p.tobytes() for p in first.planes[4:]] + [p.tobytes() for p in second.planes])
    assert kept == newest
    # Oldest-first order survives the round trip, so the next insertion drops the same position.
    loaded.add(random_examples(1, 5, seed=3))
    assert first.planes[4].tobytes() not in {loaded.planes[i].tobytes() for i in range(10)}


def test_a_smaller_capacity_on_resume_keeps_the_newest(tmp_path):
    buffer = ReplayBuffer(capacity=8, dim=5)
    examples = random_examples(8, 5)
    buffer.add(examples)
    buffer.save(tmp_path / "replay.npz")
    smaller = ReplayBuffer.load(tmp_path / "replay.npz", capacity=3, dim=5)
    assert sorted(smaller.planes[i].tobytes() for i in range(3)) == sorted(p.tobytes() for p in examples.planes[5:])


def test_positions_of_another_board_side_are_refused(tmp_path):
    buffer = ReplayBuffer(capacity=4, dim=5)
    with pytest.raises(ValueError, match="board side 5"):
        buffer.add(random_examples(2, 6))
    buffer.add(random_examples(2, 5))
    buffer.save(tmp_path / "replay.npz")
    with pytest.raises(ValueError, match="board side 5, not 6"):
        ReplayBuffer.load(tmp_path / "replay.npz", capacity=4, dim=6)
    with pytest.raises(ValueError, match="empty"):
        ReplayBuffer(4, 5).sample(1, np.random.default_rng())


def test_extended_positions_come_back_whole_with_their_targets(tmp_path):
    games = [te.Game(6) for _ in range(3)]
    for moves, game in enumerate(games):
        for _ in range(5 * moves):
            game.apply(int(game.legal_tiles()[0]))
    planes = np.stack([g.state(extended=True) for g in games])
    examples = random_examples(3, 6)
    examples = Examples(planes, examples.policy, examples.value, np.full((3, 6, 6), 2, np.int8),
                        np.arange(12, dtype=np.float32).reshape(3, 4))
    buffer = ReplayBuffer(capacity=3, dim=6, input_planes=90)
    buffer.add(examples)
    buffer.save(tmp_path / "replay.npz")
    loaded = ReplayBuffer.load(tmp_path / "replay.npz", capacity=3, dim=6, input_planes=90)
    whole = loaded._examples(np.arange(3))
    for name in ("planes", "policy", "value", "owners", "score", "hands"):
        np.testing.assert_array_equal(getattr(whole, name), getattr(examples, name))
    np.testing.assert_array_equal(whole.hands, planes[:, 6:, 0, 0])
    sample = loaded.sample(4, np.random.default_rng(0))
    assert sample.planes.shape == (4, 6, 6, 6) and sample.hands.shape == (4, 84)
    with pytest.raises(ValueError, match="90 planes, not 5"):
        ReplayBuffer.load(tmp_path / "replay.npz", capacity=3, dim=6)
