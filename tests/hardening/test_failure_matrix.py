"""Every way the network side can fail, with its exact observable outcome.

Cases already covered by the module suite (a root `put` raising, a `recv`
raising RuntimeError, None and short replies, a failing result `put` with
ValueError, interrupts from a fake `recv`, a NaN policy against random
players, a policy of 10 entries) are not repeated here."""

import math
import multiprocessing
import signal

import pytest
import tavrin_self_play as m

from module_fakes import (Config, ListQueue, LogPipe, LoopbackNetwork, RoutedQueue, constant_reply, debug_rendering,
                          plane, quoted)

TRAINING = "Error during training game: "
ROOT = "Error evaluating root node: "
SIMS = 4


def training(network, results=None, **changes):
    results = results if results is not None else ListQueue()
    config = Config(dim=8, sims_per_move=SIMS, **changes)
    return m.play_training_game(1, config, results, network, network), results


def against_random(network, results=None):
    results = results if results is not None else ListQueue()
    return m.play_test_against_random(1, Config(dim=8), results, network, network), results


def evaluation_game(pipe, log):
    return m.play_test_game(1, Config(), None, RoutedQueue("model", log), RoutedQueue("baseline", log), pipe)


def reply_with(policy=None, values=None):
    """A reply function changing the constant reply's policy or values."""

    def reply(request):
        constant_policy, constant_values = constant_reply(request)
        return (policy(request) if policy else constant_policy, values if values is not None else constant_values)

    return reply


class Unprintable(Exception):
    def __str__(self):
        raise RuntimeError("no text")


# Inference queue `put` raising.

def test_leaf_put_failure_is_printed_without_the_root_prefix(capfd):
    network = LoopbackNetwork(fail_put_at=1, error=BrokenPipeError(32, "Broken pipe"))
    status, results = training(network)
    assert (status, results.items) == (1, [])
    assert capfd.readouterr().out == TRAINING + "BrokenPipeError: [Errno 32] Broken pipe\n"
    assert len(network.requests) == 1


def test_put_error_without_text_prints_the_stand_in(capfd):
    network = LoopbackNetwork(fail_put_at=0, error=Unprintable())
    assert training(network)[0] == 1
    assert capfd.readouterr().out == TRAINING + ROOT + "Unprintable: <exception str() failed>\n"


def test_put_on_a_closed_multiprocessing_queue(capfd):
    queue = multiprocessing.get_context("fork").Queue()
    queue.close()
    pipe = LoopbackNetwork()
    status = m.play_training_game(1, Config(dim=8), ListQueue(), queue, pipe)
    assert status == 1
    assert capfd.readouterr().out == TRAINING + ROOT + f"ValueError: Queue {queue!r} is closed\n"
    assert pipe.recv_count == 0


def test_put_failure_against_random_prints_the_debug_rendering(capfd):
    network = LoopbackNetwork(fail_put_at=2, error=OSError(5, "I/O error"))
    status, results = against_random(network)
    assert (status, results.items) == (1, [])
    expected = "Error running MCTS: " + quoted(ROOT + debug_rendering(network.error)) + "\n"
    assert capfd.readouterr().out == expected


def test_put_failure_in_the_test_game_raises_exception(capfd):
    log = []

    class FailingQueue:
        def put(self, request):
            raise ConnectionResetError("gone")

    with pytest.raises(Exception) as info:
        m.play_test_game(1, Config(), None, FailingQueue(), RoutedQueue("baseline", log), LogPipe(log))
    assert type(info.value) is Exception and info.value.args == ('"Error running MCTS"',)
    out = capfd.readouterr().out
    assert out.startswith('Error running MCTS: "Error evaluating root node: PyErr { type: <class \'ConnectionResetError\'>, '
                          "value: ConnectionResetError('gone'), traceback: Some(")
    assert out.count("\n") == 1 and "Finished Game" not in out


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(0), GeneratorExit()])
def test_put_interrupts_propagate_from_every_driver(capfd, error):
    for play in (training, against_random):
        network = LoopbackNetwork(fail_put_at=1, error=error)
        with pytest.raises(type(error)) as info:
            play(network)
        assert info.value is error
    network = LoopbackNetwork(fail_put_at=0, error=error)
    with pytest.raises(type(error)):
        m.play_test_game(1, Config(), None, network, network, network)
    assert capfd.readouterr().out == ""


# Pipe `recv` raising: real multiprocessing pipes, closed at either end.

class PipeServer:
    """Inference queue answering on a real pipe; after `replies` answers it
    closes its end, as a dying inference server does, or falls silent."""

    def __init__(self, replies, then_close=True):
        self.worker_end, self.server_end = multiprocessing.get_context("fork").Pipe()
        self.replies = replies
        self.then_close = then_close
        self.requests = 0

    def put(self, request):
        self.requests += 1
        if self.requests <= self.replies:
            self.server_end.send(constant_reply(request))
        elif self.then_close and not self.server_end.closed:
            self.server_end.close()


@pytest.mark.parametrize("replies, line", [(0, TRAINING + ROOT + "EOFError: \n"), (3, TRAINING + "EOFError: \n")])
def test_server_end_closed_gives_eof(capfd, replies, line):
    server = PipeServer(replies)
    results = ListQueue()
    status = m.play_training_game(1, Config(dim=8, sims_per_move=SIMS), results, server, server.worker_end)
    assert (status, results.items) == (1, [])
    assert capfd.readouterr().out == line
    assert server.requests == replies + 1


def test_server_end_closed_mid_game_against_random(capfd):
    server = PipeServer(1)  # player 0 always places more than one square
    status = m.play_test_against_random(1, Config(dim=8), ListQueue(), server, server.worker_end)
    assert status == 1
    assert capfd.readouterr().out.startswith(
        'Error running MCTS: "Error evaluating root node: PyErr { type: <class \'EOFError\'>, value: EOFError(), ')


def test_own_end_closed_gives_os_error(capfd):
    server = PipeServer(0, then_close=False)
    server.worker_end.close()
    status = m.play_training_game(1, Config(dim=8), ListQueue(), server, server.worker_end)
    assert status == 1
    assert capfd.readouterr().out == TRAINING + ROOT + "OSError: handle is closed\n"


def test_keyboard_interrupt_while_blocked_in_a_real_recv(capfd):
    server = PipeServer(2, then_close=False)

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.5)
        results = ListQueue()
        with pytest.raises(KeyboardInterrupt):
            m.play_training_game(1, Config(dim=8), results, server, server.worker_end)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert results.items == [] and capfd.readouterr().out == ""
    # Nothing of the interrupted call lingers: the next game plays normally.
    assert training(LoopbackNetwork())[0] == 0


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(1)])
def test_recv_interrupts_propagate_from_the_evaluation_games(capfd, error):
    network = LoopbackNetwork(fail_recv_at=3, error=error)
    with pytest.raises(type(error)) as info:
        against_random(network)
    assert info.value is error
    log = []
    pipe = LogPipe(log, fail_at=7)
    pipe.error = error
    with pytest.raises(type(error)):
        evaluation_game(pipe, log)
    assert capfd.readouterr().out == ""


# NaN and infinite logits.

def everywhere(value):
    return lambda request: [value] * 64


@pytest.mark.parametrize("policy", [everywhere(math.nan), everywhere(math.inf), everywhere(-math.inf)])
def test_policy_without_a_usable_prior_stops_the_training_game(policy):
    network = LoopbackNetwork(reply=reply_with(policy=policy))
    with pytest.raises(m.InternalError) as info:
        training(network)
    assert info.value.args == ("assertion failed: visit_dist.len() > 0",)
    assert len(network.requests) == 1 + SIMS  # the unexpanded root is asked again by every simulation


@pytest.mark.parametrize("value", [math.inf, -math.inf])
def test_infinite_policy_stops_the_evaluation_games(capfd, value):
    status, results = against_random(LoopbackNetwork(reply=reply_with(policy=everywhere(value))))
    assert (status, results.items) == (1, [])
    assert capfd.readouterr().out == 'Error running MCTS: "Error evaluating root node: no legal tile has a positive prior"\n'
    log = []

    class Pipe:
        def recv(self):
            return [value] * 400, [0.0] * 4

    with pytest.raises(Exception) as info:
        evaluation_game(Pipe(), log)
    assert info.value.args == ('"Error running MCTS"',)


def test_nan_on_illegal_tiles_changes_nothing():
    def policy(request):
        legal = {r * 8 + c for r, c in plane(request[1], 4)}
        return [0.0 if tile in legal else math.nan for tile in range(64)]

    status, results = training(LoopbackNetwork(reply=reply_with(policy=policy)))
    assert status == 0 and len(results.items) == 1


@pytest.mark.parametrize("values", [[math.nan, 0, 0, 0], [0, 0, math.inf, 0]])
def test_non_finite_value_logits_surface_as_a_bad_score(values):
    with pytest.raises(m.InternalError) as info:
        training(LoopbackNetwork(reply=reply_with(values=values)))
    assert info.value.args == ("NaN/Inf in UCB score",)


def test_negative_infinite_value_logits_are_zero_values():
    status, results = training(LoopbackNetwork(reply=reply_with(values=[0.0, -math.inf, -math.inf, -math.inf])))
    assert status == 0
    assert all(not math.isnan(share) for policy in results.items[0][1][1] for _, share in policy)


# Value arrays of every length: the training game needs one value per
# player; the game against random players only asks for player 0; the test
# game asks for every player, so it needs as many values as the highest
# player to move there.

@pytest.mark.parametrize("count", [0, 1, 2, 3])
def test_short_value_arrays_stop_the_training_game(count):
    with pytest.raises(m.InternalError, match="^index out of range"):
        training(LoopbackNetwork(reply=reply_with(values=[0.0] * count)))


@pytest.mark.parametrize("count", [5, 9])
def test_long_value_arrays_play_the_training_game(count):
    status, results = training(LoopbackNetwork(reply=reply_with(values=[0.1 * k for k in range(count)])))
    assert status == 0 and len(results.items) == 1


@pytest.mark.parametrize("count", [0, 1, 2, 3, 5])
def test_value_array_length_against_random_players_is_free(count):
    status, results = against_random(LoopbackNetwork(reply=reply_with(values=[0.0] * count)))
    assert status == 0 and len(results.items) == 1


@pytest.mark.parametrize("count, finishes", [(0, False), (1, False), (2, False), (3, True), (5, True)])
def test_value_array_length_in_the_test_game(capfd, count, finishes):
    log = []

    class Pipe:
        def recv(self):
            return [0.0] * 400, [0.0] * count

    if finishes:
        assert type(evaluation_game(Pipe(), log)) is float
        assert capfd.readouterr().out.startswith("Finished Game\n")
    else:
        with pytest.raises(m.InternalError, match="^index out of range"):
            evaluation_game(Pipe(), log)
        assert capfd.readouterr().out == ""


# Policies shorter or longer than the board.

@pytest.mark.parametrize("length", [0, 63])
def test_policy_shorter_than_the_board_is_an_internal_error(length):
    results = ListQueue()
    with pytest.raises(m.InternalError, match="^index out of range"):
        training(LoopbackNetwork(reply=reply_with(policy=lambda request: [0.0] * length)), results)
    assert results.items == []


def test_policy_longer_than_the_board_is_read_up_to_the_board():
    status, results = training(LoopbackNetwork(reply=reply_with(policy=lambda request: [0.0] * 64 + [math.nan] * 50)))
    assert status == 0 and len(results.items) == 1


# Result queue `put` raising.

def test_result_put_on_a_closed_multiprocessing_queue(capfd):
    queue = multiprocessing.get_context("fork").Queue()
    queue.close()
    for play in (training, against_random):
        status, _ = play(LoopbackNetwork(), queue)
        assert status == 1
        assert capfd.readouterr().out == f"Error posting result: ValueError: Queue {queue!r} is closed\n"


def test_result_put_error_without_text(capfd):
    status, _ = training(LoopbackNetwork(), ListQueue(error=Unprintable()))
    assert status == 1
    assert capfd.readouterr().out == "Error posting result: Unprintable: <exception str() failed>\n"


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(2)])
def test_result_put_interrupt_propagates_from_the_training_game(capfd, error):
    with pytest.raises(type(error)) as info:
        training(LoopbackNetwork(), ListQueue(error=error))
    assert info.value is error
    assert capfd.readouterr().out == ""
