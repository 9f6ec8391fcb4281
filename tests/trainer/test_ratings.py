import itertools
from collections import Counter, namedtuple

import pytest

from tavrin_trainer.evaluation import arena, ratings

# The fields of arena.GameResult that rate() reads.
Result = namedtuple("Result", "seats scores payoffs seat_seconds seat_actions",
                    defaults=((0.0,) * 4, (1,) * 4))
Entrant = namedtuple("Entrant", "name")


def game(seats, scores):
    best = max(scores)
    return Result(tuple(seats), tuple(scores), tuple(1 / scores.count(best) if s == best else 0.0 for s in scores))


def rated(games):
    return {r.name: r for r in ratings.rate([game(seats, scores) for seats, scores in games])}


def test_rate_orders_by_results_not_seats():
    # Alphabetical order is strength order, in every seat rotation of every table.
    tables = [t[s:] + t[:s] for t in itertools.combinations("abcde", 4) for s in range(4)]
    ladder = ratings.rate([game(t, [100 - ord(n) for n in t]) for t in tables])
    assert [r.name for r in ladder] == list("abcde")
    assert (ladder[0].mean_payoff, ladder[-1].mean_payoff, ladder[0].games) == (1.0, 0.0, 16)

    games = [("abcd", [30, 20, 20, 5]), ("bcde", [12, 40, 8, 8]), ("acde", [7, 7, 7, 9])]
    reversed_seats = rated((seats[::-1], scores[::-1]) for seats, scores in games)
    for name, r in rated(games).items():
        assert (r.mu, r.sigma, r.mean_payoff) == pytest.approx(
            (reversed_seats[name].mu, reversed_seats[name].sigma, reversed_seats[name].mean_payoff))


def test_shared_win_updates_tied_players_alike():
    tied = rated([("wxyz", [10, 10, 4, 2])])
    assert (tied["w"].mu, tied["w"].sigma, tied["w"].mean_payoff) == pytest.approx(
        (tied["x"].mu, tied["x"].sigma, 0.5))
    # Plackett-Luce (Weng-Lin) credits a shared win no more than third place, but above last.
    assert tied["x"].mu > tied["z"].mu
    untied = rated([("wxyz", [10, 9, 4, 2])])
    assert untied["w"].mu > untied["x"].mu
    with pytest.raises(ValueError, match="more than one seat"):
        rated([("aabc", [4, 3, 2, 1])])


@pytest.fixture
def arena_calls(monkeypatch):
    """Replaces the arena's games with a recorder of what it was asked to play."""
    calls = []
    monkeypatch.setattr(arena, "play_games", lambda seatings, dim, workers=1, **options:
                        calls.append((list(seatings), dim, workers)) or [])
    return calls


def test_round_robin_plays_every_table_in_every_rotation(arena_calls):
    names = ("random", "greedy", "rollout:64", "generation-0001", "generation-0002")
    ratings.round_robin([Entrant(n) for n in names], dim=14, rounds=2, workers=3)
    [(seatings, dim, workers)] = arena_calls
    assert (dim, workers) == (14, 3)
    played = Counter(tuple(p.name for p in seating) for seating in seatings)
    assert played == Counter({t[s:] + t[:s]: 2 for t in itertools.combinations(names, 4) for s in range(4)})

    with pytest.raises(ValueError, match="at least 4 entrants"):
        ratings.round_robin([Entrant(n) for n in "abc"], dim=14)
    with pytest.raises(ValueError, match="distinct.*greedy"):
        ratings.round_robin([Entrant(n) for n in ("random", "greedy", "x", "greedy")], dim=14)
    assert len(arena_calls) == 1


def test_generations_to_rate():
    assert ratings.generations_to_rate([5, 1, 3, 3]) == [1, 3, 5]
    assert ratings.generations_to_rate(range(10, 20), limit=2) == [10, 19]
    for count in range(7, 40):
        chosen = ratings.generations_to_rate(list(range(count))[::-1], limit=6)
        gaps = [b - a for a, b in zip(chosen, chosen[1:])]
        assert (len(chosen), chosen[0], chosen[-1]) == (6, 0, count - 1)
        assert 1 <= min(gaps) <= max(gaps) <= min(gaps) + 1  # sorted, distinct, evenly spread
    with pytest.raises(ValueError):
        ratings.generations_to_rate(range(5), limit=1)


def test_plot_writes_png(tmp_path):
    ladder = ratings.rate([game(("generation-0001", "generation-0004", "random", "greedy"), [8, 20, 3, 12])])
    path = ratings.plot_ratings(ladder, tmp_path / "plots" / "ladder.png")
    assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    # Generations that search (and mix in playouts) are still generations.
    names = ("generation-0001@64", "mixed:1:0.5:generation-0004@16", "rollout:64", "greedy")
    searched = ratings.rate([game(names, [8, 20, 3, 12])])
    assert [ratings._generation_number(r.name) for r in searched if r.name in names[:2]] in ([1, 4], [4, 1])
    assert ratings.plot_ratings(searched, tmp_path / "searched.png").exists()
