"""The outcomes a call of the module may end in, each checked exactly.

A call either returns normally with a sound result, returns status 1 after
printing its one error line, or raises the documented exception; anything
else (another exception, a wrong status, output with a posted result, a NaN
in a record) fails the test."""

import math
import re

import tavrin_self_play as m

WIN_SHARES = {0.0, 1.0, 0.5, 0.25, 0.3333333432674408}

# Internal errors that bad replies or bad settings may legitimately cause.
DOCUMENTED_INTERNAL_ERRORS = (
    "NaN/Inf in UCB score",
    "assertion failed: visit_dist.len() > 0",
    "index out of range",
    "Dirichlet concentration must be greater than 0",
    "Invalid representation type",
    "Board side ",
    "PieceVariant: requested length out of range",
)

TRAINING_ERROR_LINE = re.compile(r"Error during training game: (Error evaluating root node: )?[\w.<>]+: .*\n", re.DOTALL)
MCTS_ERROR_LINE = re.compile(r'Error running MCTS: "Error evaluating root node: .*"\n', re.DOTALL)
POST_ERROR_LINE = re.compile(r"Error posting result: [\w.<>]+: .*\n", re.DOTALL)


def display_text(error):
    """How the module prints an exception it received: type, colon, str()."""
    try:
        text = str(error)
    except Exception:
        text = "<exception str() failed>"
    return f"{type(error).__qualname__}: {text}"


def check_internal_error(error):
    message = error.args[0]
    assert type(message) is str
    assert any(known in message for known in DOCUMENTED_INTERNAL_ERRORS), message


def check_training_record(item, worker_id, dim):
    received_id, (moves, policies, payoffs) = item
    assert received_id == worker_id
    assert type(moves) is list and type(policies) is list and len(moves) == len(policies) > 0
    tiles = [tile for _, tile in moves]
    assert len(set(tiles)) == len(tiles)  # every cell is covered at most once
    for (player, tile), policy in zip(moves, policies):
        assert type(player) is int and 0 <= player < 4
        assert type(tile) is int and 0 <= tile < dim * dim
        assert tile in {child for child, _ in policy}
        shares = [share for _, share in policy]
        assert all(type(share) is float and math.isfinite(share) and 0.0 <= share <= 1.0 for share in shares)
        assert sum(shares) == 0.0 or math.isclose(sum(shares), 1.0, abs_tol=1e-4)
    check_payoffs(payoffs)


def check_payoffs(payoffs):
    assert type(payoffs) is list and len(payoffs) == 4
    assert all(type(p) is float and p in WIN_SHARES for p in payoffs)
    assert math.isclose(sum(payoffs), 1.0, abs_tol=1e-6)


def status_call_outcome(capfd, call, results, line_pattern):
    """Runs a training game or a game against random players; returns
    "posted", "reported" or "internal" after checking that outcome."""
    capfd.readouterr()
    try:
        status = call()
    except m.InternalError as error:
        check_internal_error(error)
        assert results.items == []
        assert capfd.readouterr().out == ""
        return "internal"
    out = capfd.readouterr().out
    assert type(status) is int
    if status == 0:
        assert out == "" and len(results.items) == 1
        return "posted"
    assert status == 1
    assert results.items == []
    assert line_pattern.fullmatch(out) or POST_ERROR_LINE.fullmatch(out), out
    return "reported"


def training_outcome(capfd, network, results, config, worker_id=7):
    outcome = status_call_outcome(
        capfd, lambda: m.play_training_game(worker_id, config, results, network, network), results,
        TRAINING_ERROR_LINE)
    if outcome == "posted":
        check_training_record(results.items[0], worker_id, config.dim)
    return outcome


def against_random_outcome(capfd, network, results, config, worker_id=7):
    outcome = status_call_outcome(
        capfd, lambda: m.play_test_against_random(worker_id, config, results, network, network), results,
        MCTS_ERROR_LINE)
    if outcome == "posted":
        [(received_id, payoff)] = results.items
        assert received_id == worker_id and type(payoff) is float and payoff in WIN_SHARES
    return outcome


def evaluation_game_outcome(capfd, model, baseline, pipe, config):
    """The test game returns a payoff, or raises Exception with the quoted
    text after printing its line, or the internal error."""
    capfd.readouterr()
    try:
        payoff = m.play_test_game(7, config, None, model, baseline, pipe)
    except m.InternalError as error:
        check_internal_error(error)
        assert capfd.readouterr().out == ""
        return "internal"
    except Exception as error:
        assert type(error) is Exception and error.args == ('"Error running MCTS"',)
        assert MCTS_ERROR_LINE.fullmatch(capfd.readouterr().out)
        return "reported"
    assert type(payoff) is float and payoff in WIN_SHARES
    out = capfd.readouterr().out
    assert out.startswith("Finished Game\n") and out.count("Finished Game") == 1
    return "finished"
