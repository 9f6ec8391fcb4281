import pytest
import tavrin_self_play as m

from module_fakes import (Config, ListQueue, LogPipe, LoopbackNetwork, RoutedQueue, constant_reply, debug_rendering,
                          plane, quoted, tensor_side)

WIN_SHARES = {0.0, 1.0, 0.5, 0.25, 0.3333333432674408}


def training_game(config, network=None, results=None):
    network = network or LoopbackNetwork()
    results = results if results is not None else ListQueue()
    status = m.play_training_game(3, config, results, network, network)
    return status, results, network


@pytest.mark.parametrize("rep", [1, 2])
def test_request_is_id_and_nested_bool_lists(rep):
    status, _, network = training_game(Config(dim=10, rep=rep, sims_per_move=1))
    assert status == 0
    worker_id, tensor = network.requests[0]
    assert worker_id == 3 and type(tensor) is list
    shape = (len(tensor), len(tensor[0]), len(tensor[0][0]))
    assert shape == ((5, 10, 10) if rep == 1 else (10, 10, 5))
    assert all(cell is True or cell is False for a in tensor for b in a for cell in b)
    assert all(plane(tensor, k) == set() for k in range(4))  # fresh board
    assert (0, 0) in plane(tensor, 4)


def test_training_record_is_consistent():
    status, results, network = training_game(Config(dim=10, sims_per_move=6, sample_moves=10))
    assert status == 0 and type(status) is int
    [(worker_id, (moves, policies, payoffs))] = results.items
    assert worker_id == 3
    assert len(moves) == len(policies) > 40
    assert all(type(move) is tuple and len(move) == 2 for move in moves)
    tiles = [tile for _, tile in moves]
    assert len(set(tiles)) == len(tiles)  # each cell is covered once
    assert {player for player, _ in moves} <= {0, 1, 2, 3}
    for (player, tile), policy in zip(moves, policies):
        assert all(type(t) is int and type(share) is float for t, share in policy)
        children = [t for t, _ in policy]
        assert children == sorted(children) and tile in children
        assert sum(share for _, share in policy) == pytest.approx(1.0, abs=1e-5)
    first_legal = {r * 10 + c for r, c in plane(network.requests[0][1], 4)}
    assert {t for t, _ in policies[0]} == first_legal
    assert len(payoffs) == 4 and all(type(p) is float for p in payoffs)
    assert sum(payoffs) == pytest.approx(1.0)


def test_without_simulations_shares_are_zero_not_nan():
    status, results, _ = training_game(Config(dim=8, sims_per_move=0))
    assert status == 0
    for policy in results.items[0][1][1]:
        assert all(share == 0.0 for _, share in policy)


def test_reply_may_be_a_longer_list_of_tuples():
    def reply(request):
        policy, values = constant_reply(request)
        return [tuple(policy), tuple(values), "ignored"]

    status, results, _ = training_game(Config(dim=8, sims_per_move=2), LoopbackNetwork(reply=reply))
    assert status == 0 and len(results.items) == 1


@pytest.mark.parametrize(
    "network, line",
    [
        (LoopbackNetwork(fail_put_at=0), "Error during training game: Error evaluating root node: RuntimeError: boom\n"),
        (LoopbackNetwork(fail_recv_at=2), "Error during training game: RuntimeError: boom\n"),
        (LoopbackNetwork(reply=lambda request: None),
         "Error during training game: Error evaluating root node: TypeError: 'NoneType' object is not subscriptable\n"),
        (LoopbackNetwork(reply=lambda request: (constant_reply(request)[0],)),
         "Error during training game: Error evaluating root node: IndexError: tuple index out of range\n"),
        (LoopbackNetwork(reply=lambda request: (constant_reply(request)[0], 4)),
         "Error during training game: Error evaluating root node: TypeError: 'int' object cannot be converted to 'Sequence'\n"),
        (LoopbackNetwork(reply=lambda request: (["x"] * 100, [0, 0, 0, 0])),
         "Error during training game: Error evaluating root node: TypeError: must be real number, not str\n"),
    ],
)
def test_search_errors_print_one_line_and_return_one(capfd, network, line):
    results = ListQueue()
    status = m.play_training_game(1, Config(dim=8), results, network, network)
    assert status == 1 and type(status) is int
    assert capfd.readouterr().out == line
    assert results.items == []


def test_str_reply_item_is_refused(capfd):
    network = LoopbackNetwork(reply=lambda request: (constant_reply(request)[0], "0.5"))
    assert m.play_training_game(1, Config(dim=8), ListQueue(), network, network) == 1
    assert capfd.readouterr().out.startswith("Error during training game: Error evaluating root node: TypeError: ")


def test_failed_result_post_is_reported(capfd):
    for play in (m.play_training_game, m.play_test_against_random):
        network = LoopbackNetwork()
        status = play(1, Config(dim=8, sims_per_move=1), ListQueue(error=ValueError("full")), network, network)
        assert status == 1
        assert capfd.readouterr().out == "Error posting result: ValueError: full\n"


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3)])
def test_interrupts_reach_the_caller_unchanged(capfd, error):
    network = LoopbackNetwork(fail_recv_at=5, error=error)
    with pytest.raises(type(error)) as info:
        m.play_training_game(1, Config(dim=8), ListQueue(), network, network)
    assert info.value is error
    network = LoopbackNetwork()
    with pytest.raises(type(error)):
        m.play_test_against_random(1, Config(dim=8), ListQueue(error=error), network, network)
    assert capfd.readouterr().out == ""


def test_short_policy_is_an_internal_error():
    network = LoopbackNetwork(reply=lambda request: ([0.0] * 10, [0.0] * 4))
    with pytest.raises(m.InternalError, match="index out of range"):
        m.play_training_game(1, Config(dim=8), ListQueue(), network, network)


def test_against_random_asks_only_for_player_zero():
    results, network = ListQueue(), LoopbackNetwork()
    assert m.play_test_against_random(9, Config(dim=10), results, network, network) == 0
    [(worker_id, payoff)] = results.items
    assert worker_id == 9 and type(payoff) is float and payoff in WIN_SHARES
    # Every request is player 0's: its own squares grow by one per request.
    own = [len(plane(request[1], 0)) for request in network.requests]
    assert own == list(range(len(own)))


def test_against_random_reports_a_failed_evaluation(capfd):
    results, network = ListQueue(), LoopbackNetwork(fail_recv_at=3)
    assert m.play_test_against_random(1, Config(dim=10), results, network, network) == 1
    expected = 'Error running MCTS: ' + quoted("Error evaluating root node: " + debug_rendering(network.error)) + "\n"
    assert capfd.readouterr().out == expected
    assert results.items == []


def test_against_random_without_positive_prior_stops(capfd):
    network = LoopbackNetwork(reply=lambda request: ([float("nan")] * 100, [0.0] * 4))
    assert m.play_test_against_random(1, Config(dim=10), ListQueue(), network, network) == 1
    assert capfd.readouterr().out == (
        'Error running MCTS: "Error evaluating root node: no legal tile has a positive prior"\n')


def test_test_game_routes_requests_by_player_on_a_side_20_board(capfd):
    log = []
    model, baseline = RoutedQueue("model", log), RoutedQueue("baseline", log)
    result = m.play_test_game(2, Config(dim=10), ListQueue(), model, baseline, LogPipe(log))
    assert type(result) is float and result in WIN_SHARES
    assert all(tensor_side(request[1]) == 20 for _, request in log)
    model_own = [len(plane(request[1], 0)) for name, request in log if name == "model"]
    assert model_own == list(range(len(model_own)))
    out = capfd.readouterr().out
    assert out.startswith("Finished Game\n") and out.count("Finished Game") == 1
    rows = out[len("Finished Game\n"):].split("\n")
    assert len(rows) == 22 and rows[20:] == ["", ""]
    assert all(len(row) == 20 for row in rows[:20])
    assert sum(row.count("\U0001F7E5") for row in rows) == len(model_own)  # player 0's squares
    assert sum(20 - row.count("\u2B1C") for row in rows[:20]) == len(log)


def test_test_game_error_raises_exception_with_quoted_text(capfd):
    log = []
    pipe = LogPipe(log, fail_at=5)
    with pytest.raises(Exception) as info:
        m.play_test_game(2, Config(), ListQueue(), RoutedQueue("model", log), RoutedQueue("baseline", log), pipe)
    assert type(info.value) is Exception
    assert str(info.value) == '"Error running MCTS"'
    expected = 'Error running MCTS: ' + quoted("Error evaluating root node: " + debug_rendering(pipe.error)) + "\n"
    assert capfd.readouterr().out == expected
