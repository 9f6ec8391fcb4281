"""Reply sequences that misbehave while they are read: the conversion
follows Python's own iteration, never reads freed memory, and treats the
reported length as a hint only."""

import pytest
import tavrin_self_play as m

from misbehaving import OddSequence
from module_fakes import Config, ListQueue, LoopbackNetwork

CELLS = 64


def play(policy_for, values=(0.0, 0.0, 0.0, 0.0)):
    network = LoopbackNetwork(reply=lambda request: (policy_for(), values))
    results = ListQueue()
    return m.play_test_against_random(1, Config(dim=8), results, network, network), results


class Mutator:
    """An element whose __float__ changes the list that holds it."""

    def __init__(self, change):
        self.change = change
        self.owner = None

    def __float__(self):
        self.change(self)
        return 0.0


def list_with(change, length):
    element = Mutator(change)
    policy = [element] + [0.0] * (length - 1)
    element.owner = policy
    return policy


def test_a_list_cleared_by_its_element_ends_there():
    with pytest.raises(m.InternalError, match="^index out of range: the policy has 1 entries"):
        play(lambda: list_with(lambda e: e.owner.clear(), CELLS))


def test_a_list_grown_by_its_element_is_read_to_its_new_end():
    status, results = play(lambda: list_with(lambda e: e.owner.append(0.0), CELLS - 1))
    assert status == 0 and len(results.items) == 1


def test_an_element_dropping_its_own_last_reference_is_read_once():
    # The list held the only reference: it must live until its conversion ends.
    def remove_self(element):
        element.owner.remove(element)
        element.owner = None

    status, results = play(lambda: list_with(remove_self, CELLS + 1))
    assert status == 0 and len(results.items) == 1


@pytest.mark.parametrize("length", [ValueError("no length"), OverflowError("too big"), 0, 3, 2**62])
def test_the_length_is_only_a_hint(length):
    status, results = play(lambda: OddSequence([0.0] * CELLS, length), values=OddSequence([0.0] * 4, length))
    assert status == 0 and len(results.items) == 1


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(4)])
def test_an_interrupt_from_len_reaches_the_caller(capfd, error):
    with pytest.raises(type(error)) as info:
        play(lambda: OddSequence([0.0] * CELLS, error))
    assert info.value is error
    assert capfd.readouterr().out == ""


def test_a_failing_iteration_is_reported_with_its_error(capfd):
    class BrokenIterator(OddSequence):
        def __iter__(self):
            raise ValueError("cannot iterate")

    status, results = play(lambda: BrokenIterator([0.0] * CELLS, CELLS))
    assert status == 1 and results.items == []
    assert "ValueError('cannot iterate')" in capfd.readouterr().out
