"""Arbitrary objects as evaluation replies: every game still ends in one of
the documented outcomes, and no reply object gains or loses a reference."""

import contextlib
import gc
import sys

import numpy

from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

from module_fakes import Config, ListQueue, RoutedQueue, constant_reply, tensor_side
from misbehaving import Index, OddSequence, Raising, Real, WrongFloat
from outcomes import against_random_outcome, evaluation_game_outcome, training_outcome

DIM = 5
CELLS = DIM * DIM


class RaisingItem:
    """A reply whose subscription raises."""

    def __getitem__(self, index):
        raise LookupError(f"no item {index}")


def numbers():
    return st.one_of(
        st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True),
        st.floats(width=32),
        st.integers(-(10**400), 10**400),
        st.booleans(),
        st.sampled_from([Index(2), Real(), WrongFloat(), Raising(ValueError("bad float")), Raising(ZeroDivisionError()),
                         None, "0.5", b"1", 1j]),
    )


def sequences_of(size):
    """Number sequences around `size` long, in every container that the
    reply conversion meets: lists, tuples, odd sequences, huge lists."""
    items = st.lists(numbers(), min_size=size, max_size=size) | st.lists(numbers(), max_size=size + 3)
    mostly_zero = st.builds(lambda n, tail: [0.0] * n + tail, st.integers(0, size + 2), st.lists(numbers(), max_size=2))
    plain = items | mostly_zero
    lengths = st.sampled_from([0, -1, 2**62, ValueError("no length"), OverflowError("huge")])
    return st.one_of(
        plain,
        plain.map(tuple),
        st.builds(OddSequence, plain, lengths),
        st.integers(100_000, 100_000).map(lambda n: [0.0] * n),  # huge
        st.sampled_from([None, "0" * size, 3.5, {}, set(), object()]),
    )


def valid_sequences_of(size):
    """Sequences that convert: exotic containers and number types included."""
    valid_numbers = st.floats(-50, 50, width=32) | st.integers(-50, 50) | st.booleans() | st.just(Index(2))
    plain = st.lists(valid_numbers, min_size=size, max_size=size + 3)
    return st.one_of(
        plain,
        plain.map(tuple),
        st.builds(OddSequence, plain, st.sampled_from([0, 2**62, ValueError("no length")])),
        st.lists(st.floats(-50, 50, width=32), min_size=size, max_size=size).map(lambda v: numpy.array(v, numpy.float32)),
    )


junk = st.recursive(st.none() | st.integers() | st.text(max_size=4) | st.floats(),
                    lambda inner: st.lists(inner, max_size=3) | st.tuples(inner, inner), max_leaves=6)

replies = st.one_of(
    st.tuples(valid_sequences_of(CELLS), valid_sequences_of(4)),
    st.tuples(valid_sequences_of(CELLS), valid_sequences_of(4)),
    st.tuples(sequences_of(CELLS), sequences_of(4)),
    st.builds(lambda p, v, extra: [p, v, extra], sequences_of(CELLS), sequences_of(4), junk),
    st.builds(lambda p, v: {0: p, 1: v}, sequences_of(CELLS), sequences_of(4)),
    st.tuples(sequences_of(CELLS)),
    st.just(()),
    st.builds(RaisingItem),
    junk,
)


class ScriptedNetwork:
    """Answers the first requests with the drawn replies, then constantly."""

    def __init__(self, scripted):
        self.scripted = scripted
        self.requests = []

    def put(self, request):
        self.requests.append(request)

    def recv(self):
        n = len(self.requests) - 1
        return self.scripted[n] if n < len(self.scripted) else constant_reply(self.requests[-1])


def reference_counts(objects):
    """Counts of the replies built for this example; shared singletons such
    as None or '' change with unrelated code and are left out."""
    return [sys.getrefcount(o) for o in objects if isinstance(o, (list, dict, OddSequence, RaisingItem, numpy.ndarray))
            or (type(o) is tuple and o)]


@contextlib.contextmanager
def counting_references():
    """No cycle collection while counts are compared: it would drop the
    references that earlier examples' tracebacks hold."""
    gc.disable()
    try:
        yield
    finally:
        gc.enable()


fuzz_settings = settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture,
                                                                                  HealthCheck.too_slow])


@fuzz_settings
@given(scripted=st.lists(replies, min_size=1, max_size=6), sims=st.integers(0, 3))
def test_training_game_survives_any_reply(capfd, scripted, sims):
    network, results = ScriptedNetwork(scripted), ListQueue()
    with counting_references():
        before = reference_counts(scripted)
        event(training_outcome(capfd, network, results, Config(dim=DIM, sims_per_move=sims)))
        assert reference_counts(scripted) == before


@fuzz_settings
@given(scripted=st.lists(replies, min_size=1, max_size=6))
def test_game_against_random_survives_any_reply(capfd, scripted):
    network, results = ScriptedNetwork(scripted), ListQueue()
    with counting_references():
        before = reference_counts(scripted)
        event(against_random_outcome(capfd, network, results, Config(dim=DIM)))
        assert reference_counts(scripted) == before


@settings(fuzz_settings, max_examples=12)
@given(scripted=st.lists(replies, min_size=1, max_size=3))
def test_test_game_survives_any_reply(capfd, scripted):
    log = []

    class Pipe:
        def recv(self):
            n = len(log) - 1
            return scripted[n] if n < len(scripted) else constant_reply(log[-1][1])

    with counting_references():
        before = reference_counts(scripted)
        event(evaluation_game_outcome(capfd, RoutedQueue("model", log), RoutedQueue("baseline", log), Pipe(), Config()))
        assert reference_counts(scripted) == before
    assert all(tensor_side(request[1]) == 20 for _, request in log)
