"""Arbitrary config objects and queues or pipes that fail at random points.

Each drawn value carries what it should do to the call, so every example
checks its exact outcome: the first unreadable attribute names itself in
the internal error, an interrupt reaches the caller unchanged, a failing
queue or pipe gives status 1 with its line, and everything else plays."""

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st
import tavrin_self_play as m

from module_fakes import Config, ListQueue, LoopbackNetwork, debug_rendering, quoted
from misbehaving import Index, Raising, Real
from outcomes import check_internal_error, check_training_record, display_text

TRAINING = "Error during training game: "
ROOT = "Error evaluating root node: "

FIELDS = ("dim", "rep", "sims_per_move", "sample_moves", "c_puct", "dirichlet_alpha", "exploration_fraction")

# What a drawn attribute value does to the call.
READS = "reads"            # converts
UNCONVERTIBLE = "unconvertible"  # "failed to extract field Config.<name>"
RAISES = "raises"          # the attribute access raises an Exception
INTERRUPTS = "interrupts"  # the attribute access raises a BaseException outside Exception


def fresh(*factories):
    """A new object per example, so that no exception's traceback grows
    across examples."""
    return st.sampled_from(factories).map(lambda make: make())


def junk():
    return st.sampled_from([None, "3", b"3", [], (), {}, 1j, object()])


def unsigned(readable):
    """(readable, unconvertible) values of an unsigned field; the readable
    ones are kept small where a large value would make the game long."""
    unconvertible = st.one_of(st.integers(max_value=-1), st.integers(min_value=2**64), st.floats(), junk(),
                              st.just(Real()), fresh(lambda: Raising(ValueError("bad")), lambda: Raising(TypeError("no"))))
    return readable | readable.map(Index), unconvertible


def real():
    readable = st.one_of(st.floats(allow_nan=True, allow_infinity=True), st.integers(-(2**53), 2**53), st.booleans(),
                         st.sampled_from([Real(), Index(2)]))
    unconvertible = st.one_of(st.just(10**400), junk(), fresh(lambda: Raising(ArithmeticError("bad"))))  # 10**400: no double
    return readable, unconvertible


VALUES = {
    "dim": unsigned(st.integers(4, 7) | st.integers(4, 7) | st.sampled_from([0, 1, 3, 129, 2**32, 2**64 - 1])),
    "rep": unsigned(st.sampled_from([1, 2, 1, 2, 1, 2, 0, 3, 2**64 - 1])),
    "sims_per_move": unsigned(st.integers(0, 3)),
    "sample_moves": unsigned(st.integers(0, 2**64 - 1)),
    "c_puct": real(),
    "dirichlet_alpha": real(),
    "exploration_fraction": real(),
}


def labelled(readable, unconvertible):
    reads = readable.map(lambda v: (v, READS))
    return st.one_of(reads, reads, unconvertible.map(lambda v: (v, UNCONVERTIBLE)),
                     fresh(lambda: AttributeError("gone"), lambda: ValueError("broken property")).map(lambda e: (e, RAISES)),
                     fresh(KeyboardInterrupt, lambda: SystemExit(3)).map(lambda e: (e, INTERRUPTS)))


ANY_VALUES = {name: labelled(*values) for name, values in VALUES.items()}
READABLE_VALUES = {name: readable.map(lambda v: (v, READS)) for name, (readable, _) in VALUES.items()}


def config_object(drawn):
    """An object whose attributes are the drawn values; access errors come
    from properties, as they would from a misbehaving settings class."""
    namespace = {}
    for name, (value, effect) in drawn.items():
        if effect in (RAISES, INTERRUPTS):
            namespace[name] = property(lambda self, error=value: (_ for _ in ()).throw(error))
        else:
            namespace[name] = value
    return type("DrawnConfig", (), namespace)()


def first_failure(drawn):
    return next(((name, *drawn[name]) for name in FIELDS if drawn[name][1] != READS), None)


settings_for_boundary = settings(max_examples=120, deadline=None,
                                 suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])


def plain(value):
    return value.value if isinstance(value, Index) else value


@settings_for_boundary
@given(drawn=st.fixed_dictionaries(ANY_VALUES), training=st.booleans())
def test_config_read_stops_at_the_first_bad_attribute(capfd, drawn, training):
    config = config_object(drawn)
    network, results = LoopbackNetwork(), ListQueue()
    play = m.play_training_game if training else m.play_test_against_random
    failure = first_failure(drawn)
    if failure is None:
        event("read")
        return  # readable configs: the next test
    name, value, effect = failure
    event(effect)
    capfd.readouterr()
    if effect == INTERRUPTS:
        with pytest.raises(type(value)) as info:
            play(1, config, results, network, network)
        assert info.value is value
    else:
        with pytest.raises(m.InternalError) as info:
            play(1, config, results, network, network)
        if effect == RAISES:
            assert info.value.args == (display_text(value),) and info.value.__cause__ is value
        else:
            assert info.value.args == (f"TypeError: failed to extract field Config.{name}",)
            cause = info.value.__cause__
            assert type(cause) is TypeError and str(cause) == f"failed to extract field Config.{name}"
            assert isinstance(cause.__cause__, (TypeError, OverflowError, ValueError, ArithmeticError))
    assert network.requests == [] and results.items == [] and capfd.readouterr().out == ""


@settings_for_boundary
@given(drawn=st.fixed_dictionaries(READABLE_VALUES), training=st.booleans())
def test_any_readable_config_plays_or_fails_where_documented(capfd, drawn, training):
    """The board side decides first, then the representation; any other
    setting either plays or ends in a documented internal error (a bad
    score, a non-positive noise concentration)."""
    config = config_object(drawn)
    network, results = LoopbackNetwork(), ListQueue()
    play = m.play_training_game if training else m.play_test_against_random
    dim, rep = plain(drawn["dim"][0]), plain(drawn["rep"][0])
    capfd.readouterr()
    try:
        status = play(1, config, results, network, network)
    except m.InternalError as error:
        message = error.args[0]
        if dim < 4:
            assert message.startswith("PieceVariant: requested length out of range")
        elif dim > 128:
            assert message == f"Board side {dim} is not supported: the largest side is 128"
        elif rep not in (1, 2):
            assert message == "Invalid representation type"
        else:
            assert training  # the game against random players reads no search setting
            check_internal_error(error)
        assert results.items == [] and capfd.readouterr().out == ""
        event(message.split(" is ")[0].split(":")[0].rstrip("0123456789"))
        return
    assert 4 <= dim <= 128 and rep in (1, 2)
    assert status == 0 and len(results.items) == 1 and capfd.readouterr().out == ""
    if training:
        check_training_record(results.items[0], 1, dim)
    event("posted")


ERRORS = fresh(lambda: RuntimeError("boom"), EOFError, lambda: OSError(9, "Bad file descriptor"), BrokenPipeError,
               lambda: ValueError("two\nlines"), lambda: LookupError('quote " and \\ backslash'))
INTERRUPTIONS = fresh(KeyboardInterrupt, lambda: SystemExit(0), GeneratorExit)


class RecordingNetwork(LoopbackNetwork):
    """Remembers whether its `put` or `recv` raised."""

    raised = False

    def put(self, request):
        try:
            return super().put(request)
        except BaseException:
            self.raised = True
            raise

    def recv(self):
        try:
            return super().recv()
        except BaseException:
            self.raised = True
            raise


@settings_for_boundary
@given(fail_put_at=st.none() | st.integers(0, 30), fail_recv_at=st.none() | st.integers(0, 30),
       error=ERRORS | INTERRUPTIONS, result_error=st.none() | ERRORS | INTERRUPTIONS,
       training=st.booleans())
def test_queues_and_pipes_failing_anywhere(capfd, fail_put_at, fail_recv_at, error, result_error, training):
    network = RecordingNetwork(fail_put_at=fail_put_at, fail_recv_at=fail_recv_at, error=error)
    results = ListQueue(error=result_error)
    play = m.play_training_game if training else m.play_test_against_random
    capfd.readouterr()
    try:
        status = play(1, Config(dim=5, sims_per_move=2), results, network, network)
    except BaseException as raised:  # noqa: B036 - interrupts must arrive unchanged
        assert raised is (error if network.raised else result_error)
        assert not isinstance(raised, Exception)
        assert capfd.readouterr().out == ""
        event("interrupted")
        return
    out = capfd.readouterr().out
    if network.raised:
        assert isinstance(error, Exception) and status == 1 and results.items == []
        if training:
            assert out in (f"{TRAINING}{display_text(error)}\n", f"{TRAINING}{ROOT}{display_text(error)}\n")
        else:
            assert out == "Error running MCTS: " + quoted(ROOT + debug_rendering(error)) + "\n"
        event("network failed")
    elif result_error is not None:
        assert status == 1 and out == f"Error posting result: {display_text(result_error)}\n"
        event("result post failed")
    else:
        assert status == 0 and out == "" and len(results.items) == 1
        event("posted")


def test_interrupted_calls_leave_the_module_usable():
    for error in (KeyboardInterrupt(), SystemExit(0)):
        network = LoopbackNetwork(fail_recv_at=2, error=error)
        with pytest.raises(type(error)):
            m.play_training_game(1, Config(dim=5), ListQueue(), network, network)
    network, results = LoopbackNetwork(), ListQueue()
    assert m.play_training_game(1, Config(dim=5), results, network, network) == 0
    check_training_record(results.items[0], 1, 5)
