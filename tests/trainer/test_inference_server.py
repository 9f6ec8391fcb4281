import os
import queue
import signal
import time

import numpy as np
import pytest
import torch

from tavrin_trainer.core.run_folder.run_directory import save_checkpoint
from tavrin_trainer.selfplay.server_engine.supervisor import ClusterFailure, ServerHandle
from tavrin_trainer.selfplay.server_engine.inference_server import ServerOptions, collect_batch
from tavrin_trainer.learning.network import NetworkShape, TavrinNet
from tavrin_trainer.selfplay.server_engine.game_worker import ReplyPipe, ServerGone
import multiprocessing

SHAPE = NetworkShape(channels=8, blocks=1)


def checkpoint_with_random_heads(path, seed):
    torch.manual_seed(seed)
    model = TavrinNet(SHAPE)
    for parameter in model.parameters():  # the zero-initialised heads would answer alike for every position
        torch.nn.init.normal_(parameter, std=0.3)
    model.eval()
    save_checkpoint(path, {"model": model.state_dict()})
    return model


def random_position(dim, rng):
    return (rng.random((5, dim, dim)) < 0.4)


def as_request(position, rep):
    return (position if rep == 1 else position.transpose(1, 2, 0)).tolist()


def start_server(tmp_path, rep=1, batch_size=4, workers=3, seed=0):
    model = checkpoint_with_random_heads(tmp_path / "model.pt", seed)
    options = ServerOptions(channels=SHAPE.channels, blocks=SHAPE.blocks, rep=rep, batch_size=batch_size,
                            wait_s=0.05, threads=1)
    server = ServerHandle(multiprocessing.get_context("spawn"), "model", options, str(tmp_path / "model.pt"), workers)
    return server, model


@pytest.mark.parametrize("rep", [1, 2])
def test_replies_reach_the_worker_each_id_names_in_full_batches(tmp_path, rep):
    server, model = start_server(tmp_path, rep=rep, batch_size=4, workers=3)
    rng = np.random.default_rng(rep)
    # Boards of two sides in one batch; ids out of order.
    sent = [(worker_id, random_position(dim, rng)) for worker_id, dim in [(2, 5), (0, 7), (1, 5), (2, 7), (0, 5), (1, 7)]]
    for worker_id, position in sent:
        server.requests.put((worker_id, as_request(position, rep)))
    time.sleep(0.3)  # all queued before the server reads: batches of 4 and 2
    try:
        server.start()
        server.wait_ready()
        for worker_id, position in sent:
            end = server.reply_ends[worker_id]
            assert end.poll(10), "no reply"
            policy, value = end.recv()
            expected_policy, expected_value = model(torch.from_numpy(position[None]))
            np.testing.assert_allclose(policy, expected_policy[0].detach().numpy(), rtol=1e-4, atol=1e-5)
            np.testing.assert_allclose(value, expected_value[0].detach().numpy(), rtol=1e-4, atol=1e-5)
            assert len(policy) == position.shape[1] ** 2 and len(value) == 4
        stats = server.take_stats()
        assert stats["requests"] == 6 and stats["batch_sizes"] == {4: 1, 2: 1}
        assert server.take_stats()["requests"] == 0  # taking the counters resets them
    finally:
        server.stop()
    assert server.process.exitcode == 0


def test_loading_new_weights_changes_the_answers(tmp_path):
    server, _ = start_server(tmp_path, workers=1)
    other = checkpoint_with_random_heads(tmp_path / "other.pt", seed=5)
    position = random_position(6, np.random.default_rng(0))
    try:
        server.start()
        server.wait_ready()
        server.load(tmp_path / "other.pt")
        server.requests.put((0, as_request(position, 1)))
        assert server.reply_ends[0].poll(10)
        policy, _ = server.reply_ends[0].recv()
        np.testing.assert_allclose(policy, other(torch.from_numpy(position[None]))[0][0].detach().numpy(),
                                   rtol=1e-4, atol=1e-5)
        with pytest.raises(ClusterFailure, match="no checkpoint"):
            server.load(tmp_path / "missing.pt")
    finally:
        server.stop()


def test_a_worker_waiting_on_a_dead_server_gets_an_error(tmp_path):
    server, _ = start_server(tmp_path, workers=1)
    try:
        server.start()
        server.wait_ready()
        os.kill(server.process.pid, signal.SIGKILL)
        server.requests.put((0, as_request(random_position(5, np.random.default_rng(0)), 1)))
        end = server.reply_ends[0]
        assert end.poll(10), "the reply end must see end-of-file, not block"
        with pytest.raises(ServerGone, match="'model' has stopped"):
            ReplyPipe({"model": end}).recv()
    finally:
        server.stop()


def test_a_server_stops_when_its_parent_goes_away(tmp_path):
    server, _ = start_server(tmp_path, workers=1)
    server.start()
    server.wait_ready()
    server.control.close()  # what the parent's death looks like from the server
    server.process.join(10)
    assert server.process.exitcode == 0
    server.stop()


def test_collect_batch_stops_at_the_batch_size_or_the_wait_bound():
    waiting = queue.Queue()
    for i in range(10):
        waiting.put(i)
    assert collect_batch(waiting, "first", batch_size=4, wait_s=1.0) == ["first", 0, 1, 2]
    empty = queue.Queue()
    started = time.perf_counter()
    assert collect_batch(empty, "first", batch_size=4, wait_s=0.05) == ["first"]
    assert 0.04 < time.perf_counter() - started < 1.0


def test_a_server_that_cannot_load_its_checkpoint_says_why(tmp_path):
    (tmp_path / "broken.pt").write_bytes(b"not a checkpoint")
    options = ServerOptions(channels=8, blocks=1, rep=1, batch_size=1, wait_s=0.01, threads=1)
    server = ServerHandle(multiprocessing.get_context("spawn"), "model", options, str(tmp_path / "broken.pt"), 1)
    server.start()
    try:
        with pytest.raises(ClusterFailure, match="inference server 'model': .*Error"):
            server.wait_ready()
    finally:
        server.stop()
