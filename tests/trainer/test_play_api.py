"""tavrin-play's requests, through the framework's test client: a whole game
matches te.Game move for move, and every bad request is answered with a 4xx
and changes nothing."""

import argparse
import json
import os
import shutil
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.request
from pathlib import Path

import numpy as np
import pytest
import tavrin_engine as te
from engine_marks import needs_engine

pytest.importorskip("starlette")
pytest.importorskip("httpx")
from starlette.testclient import TestClient  # noqa: E402

from tavrin_trainer.cli import eval as cli_eval  # noqa: E402
from tavrin_trainer.cli.play_command import networks_offered  # noqa: E402
from tavrin_trainer.core.run_folder.run_directory import save_checkpoint  # noqa: E402
from tavrin_trainer.core.run_folder.saved_games import SavedGame  # noqa: E402
from tavrin_trainer.evaluation.players import GreedyPlayer, RandomPlayer  # noqa: E402
from tavrin_trainer.learning.network import NetworkShape, TavrinNet  # noqa: E402
from tavrin_trainer.play.app import PlayConfig, create_app, serving  # noqa: E402
from tavrin_trainer.play.pieces import piece_of  # noqa: E402
from tavrin_trainer.play.replay_files import ReplayUnreadable, read_replay  # noqa: E402
from tavrin_trainer.play.session import MAX_THINK_MS, PlaySession, RequestRefused, Seat, make_seat  # noqa: E402

pytestmark = needs_engine
JSON = {"Content-Type": "application/json"}


@pytest.fixture
def network_file(tmp_path):
    path = tmp_path / "net.pt"
    save_checkpoint(path, {"model": TavrinNet(NetworkShape(8, 1, False, 90)).state_dict(),
                           "shape": {"channels": 8, "blocks": 1, "aux_heads": False, "input_planes": 90}})
    return path


def played_game(dim, **fields):
    """A whole game of greedy players as a saved game."""
    game, player = te.Game(dim), GreedyPlayer(seed=1)
    while not game.is_terminal():
        game.apply(player.choose(game))
    return SavedGame(dim, list(game.history), list(game.payoff()), **fields)


@pytest.fixture
def client(tmp_path, network_file):
    run = tmp_path / "run"
    (run / "games").mkdir(parents=True)
    (run / "games" / "generation-0001.jsonl").write_text(played_game(5, generation=1).to_json() + "\n")
    (run / "metrics.csv").write_text("generation,elapsed_s\n0,1.5\n")
    return TestClient(create_app(PlayConfig(networks={"tiny": network_file}, run_dir=run)),
                      base_url="http://127.0.0.1:8765")


def owners_of(game):
    owners = [-1] * (game.dim * game.dim)
    for player, tile in game.history:
        owners[tile] = player
    return owners


def test_a_whole_game_through_the_api_is_the_engine_s_game(client):
    seats = [{"kind": "human"}, {"kind": "greedy"}, {"kind": "rollout", "simulations": 4},
             {"kind": "network", "source": "tiny", "simulations": 4}]
    state = client.post("/api/games", json={"dim": 8, "seats": seats}).json()
    replica = te.Game(8)
    while not state["over"]:
        if state["turn"] == "human":
            piece, placements = next(iter(state["placements"].items()))
            assert all(len(p) == len(te.piece_shape(int(piece))) for p in placements)
            tiles = placements[-1]
            state = client.post(f"/api/games/{state['id']}/place", json={"moves": state["moves"], "tiles": tiles})
            assert state.status_code == 200, state.text
            state = state.json()
        else:
            state = client.post(f"/api/games/{state['id']}/advance", json={"moves": state["moves"]}).json()
            tiles = state["last"]
        for tile in sorted(tiles):
            replica.apply(tile)
        assert not replica.chosen_squares  # one whole piece a request, even when the others are out
        assert state["owners"] == owners_of(replica) and state["hands"] == [list(h) for h in replica.hands]
        assert state["scores"] == list(replica.scores()) and state["out"] == list(replica.finished)
    assert state["payoffs"] == list(replica.payoff()) and state["turn"] is None
    # Each computer seat shows what a piece cost it.
    timings = [seat["seconds_per_piece"] for seat in state["seats"]]
    assert timings[0] is None and all(t > 0 for t in timings[1:])

    # Undo goes back to before the person's last piece; the game goes on from there.
    undone = client.post(f"/api/games/{state['id']}/undo", json={"moves": state["moves"]}).json()
    assert undone["turn"] == "human" and undone["moves"] < state["moves"] and not undone["over"]


def test_bad_requests_are_answered_and_change_nothing(client):
    def post(path, **body):
        return client.post(path, json=body)

    state = post("/api/games", dim=8, seats=[{"kind": "human"}] + [{"kind": "greedy"}] * 3).json()
    game = f"/api/games/{state['id']}"
    mine = next(iter(state["placements"].values()))[0]
    illegal = [t + 8 * 4 for t in mine]  # off the corner
    for response, status, words in [
        (client.post("/api/games", content=b"{oops", headers=JSON), 400, "not JSON"),
        (client.post("/api/games", json=[1]), 400, "a JSON object"),
        (post("/api/games", dim=200, seats=[{"kind": "human"}] * 4), 400, "side must be 5 to 128"),
        (post("/api/games", dim=8, seats=[{"kind": "human"}] * 3), 400, "4 seats"),
        (post("/api/games", dim=8, seats=[{"kind": "wizard"}] * 4), 400, "unknown seat kind"),
        (post("/api/games", dim=8, seats=[{"kind": "network", "source": "nope"}] * 4), 400, "no network named"),
        (post("/api/games", dim=8, seats=[{"kind": "rollout", "simulations": 10**9}] * 4), 400, "simulations"),
        (post("/api/games", dim=8, seats=[{"kind": "network", "source": "tiny", "simulations": 0, "playouts": 2}] * 4),
         400, "give simulations too"),
        (post("/api/games/nosuch/place", moves=0, tiles=mine), 404, "no such game"),
        (post(f"{game}/place", moves=3, tiles=mine), 409, "out of date"),
        (post(f"{game}/place", tiles=mine), 409, "out of date"),
        (post(f"{game}/place", moves=0, tiles="0,1"), 400, "list of squares"),
        (post(f"{game}/place", moves=0, tiles=illegal), 409, "no piece in your hand fits"),
        (post(f"{game}/advance", moves=0), 409, "your turn"),
        (post(f"{game}/undo", moves=0), 409, "nothing to undo"),
        (post(f"{game}/analyse", network="nope"), 400, "no network named"),
        (post(f"{game}/analyse", network="tiny", simulations=-1), 400, "simulations"),
        (client.get("/api/replays/nosuch.jsonl"), 404, "no such saved-game file"),
    ]:
        assert response.status_code == status and words in response.json()["error"], (response.text, words)
    assert client.get(game).json() == state

    # Out of turn: after the person's piece the computer moves, not the person again.
    after = post(f"{game}/place", moves=0, tiles=mine).json()
    response = post(f"{game}/place", moves=after["moves"], tiles=mine)
    assert response.status_code == 409 and "turn" in response.json()["error"]
    assert client.get(game).json() == after


def test_analysis_saved_games_and_the_run_s_curves(client):
    state = client.post("/api/games", json={"dim": 8, "seats": [{"kind": "human"}] * 4}).json()
    view = client.post(f"/api/games/{state['id']}/analyse", json={"network": "tiny", "simulations": 1500}).json()
    legal = np.zeros(64, bool)
    legal[[t for ps in state["placements"].values() for p in ps for t in p]] = True
    policy, visits = np.array(view["policy"]), np.array(view["visits"])
    assert policy.sum() == pytest.approx(1, abs=1e-5) and not policy[~legal].any()
    assert not visits[~legal].any()
    # Advice by whole pieces: each a placement the player may lay, once however its squares were ordered.
    advice = view["placements"]
    whole = {(int(piece), tuple(sorted(p))) for piece, ps in state["placements"].items() for p in ps}
    assert advice and all((a["piece"], tuple(a["squares"])) in whole for a in advice)
    assert len({tuple(a["squares"]) for a in advice}) == len(advice)
    assert [a["share"] for a in advice] == sorted((a["share"] for a in advice), reverse=True)
    assert all(a["share"] >= 0.01 and 0 <= a["value"] <= 1 for a in advice)
    assert sum(view["values"]) == pytest.approx(1, abs=1e-5) and view["player"] == 0

    files = client.get("/api/replays").json()["files"]
    assert files == [{"name": "generation-0001.jsonl", "games": 1}]
    saved = client.get("/api/replays/generation-0001.jsonl").json()["games"]
    assert saved[0]["generation"] == 1
    # The squares grouped into whole pieces, each one of the catalogue's, in the order played.
    pieces = saved[0]["pieces"]
    assert [[p, t] for p, squares in pieces for t in squares] == saved[0]["moves"]
    assert all(piece_of(squares, 5) is not None for _, squares in pieces)
    assert client.get("/api/metrics").json()["rows"] == [{"generation": "0", "elapsed_s": "1.5"}]
    options = client.get("/api/options").json()
    assert options["networks"] == ["tiny"] and len(options["pieces"]) == 21
    assert client.get("/").status_code == 200


def test_the_command_listens_on_loopback_and_serves_arena_games(tmp_path):
    assert cli_eval.main(["greedy", "--opponent", "random", "--games", "4", "--dim", "6", "--workers", "1",
                          "--quiet", "--seed", "1", "--save-games", str(tmp_path / "evals")]) == 0
    saved = (tmp_path / "evals" / "greedy-vs-random.jsonl").read_text().splitlines()
    assert len(saved) == 4 and json.loads(saved[1])["seats"] == ["random", "greedy", "random", "random"]

    trainer = Path(__file__).resolve().parents[2] / "trainer"
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(trainer), os.environ.get("PYTHONPATH", "")])}
    command = "import sys, tavrin_trainer.cli.play_command as p; sys.exit(p.main())"
    process = subprocess.Popen([sys.executable, "-c", command, "--games", str(tmp_path / "evals")],
                               stdout=subprocess.PIPE, text=True, env=env)
    try:
        line = process.stdout.readline()
        assert line.startswith("tavrin-play: open http://127.0.0.1:"), line
        url = line.split()[2]
        with urllib.request.urlopen(url + "api/replays", timeout=30) as answer:
            assert json.load(answer)["files"] == [{"name": "greedy-vs-random.jsonl", "games": 4}]
    finally:
        process.terminate()
        process.wait(timeout=30)


def test_each_computer_move_is_one_piece_even_when_everyone_else_is_out():
    for seed in range(4):
        session = PlaySession(8, [Seat("random", "random", RandomPlayer([seed, k])) for k in range(4)])
        while not session.game.is_terminal():
            session.advance()
            assert piece_of(session.placements[-1][1], 8) is not None
        laid = sum(te.PIECES - len(hand) for hand in session.game.hands)
        assert session.moves == laid  # a placement per piece, none merged


def test_a_seat_with_a_thinking_time_searches_by_the_clock():
    seats = [make_seat({"kind": "rollout", "simulations": 4096, "think_ms": 40}, None)] + \
        [make_seat({"kind": "greedy"}, None)] * 3
    assert seats[0].label == "rollout, 40 ms a piece"
    session = PlaySession(20, seats)
    session.advance()
    # Each square of the piece had a share of 40 ms: far fewer than the 4,096 playouts it may make.
    assert 1 <= seats[0].player.last_simulations[0] < 4096
    for bad in (-1, MAX_THINK_MS + 1, 2.5, "40"):
        with pytest.raises(RequestRefused, match="think_ms"):
            make_seat({"kind": "rollout", "simulations": 8, "think_ms": bad}, None)


def test_only_its_own_pages_on_its_own_host_names_can_use_it(client):
    seats = {"dim": 8, "seats": [{"kind": "human"}] + [{"kind": "greedy"}] * 3}
    for host in ("127.0.0.1", "127.0.0.1:8765", "localhost:1", "[::1]:8765", "[::1]"):
        assert client.get("/api/options", headers={"Host": host}).status_code == 200, host
    for host in ("evil.example", "evil.example:8765", "127.0.0.1.evil.example", "[::1", "127.0.0.1:x", ""):
        response = client.get("/api/options", headers={"Host": host})
        assert response.status_code == 400 and "Host" in response.json()["error"], host
    before = len(client.app.state.games)
    # Another site, or a page on another port or scheme of this machine: its scheme, host and port must be ours.
    for origin in ("http://evil.example", "null", "http://127.0.0.1.evil.example:8765", "file://",
                   "http://127.0.0.1:9999", "http://127.0.0.1", "https://127.0.0.1:8765", "http://localhost:8765"):
        response = client.post("/api/games", json=seats, headers={"Origin": origin})
        assert response.status_code == 403, origin
    # Two Host or two Origin headers: refused whichever comes first.
    for twice in ([("Origin", "http://127.0.0.1:8765"), ("Origin", "http://127.0.0.1:9999")],
                  [("Origin", "http://127.0.0.1:9999"), ("Origin", "http://127.0.0.1:8765")],
                  [("Host", "127.0.0.1:8765"), ("Host", "evil.example")]):
        response = client.post("/api/games", json=seats, headers=twice)
        assert response.status_code == 400 and "two" in response.json()["error"], twice
    # A cross-site "simple" request: no preflight, so the type must stop it.
    simple = client.post("/api/games", content=json.dumps(seats), headers={"Content-Type": "text/plain"})
    assert simple.status_code == 415
    assert len(client.app.state.games) == before
    assert client.post("/api/games", json=seats, headers={"Origin": "http://127.0.0.1:8765"}).status_code == 200
    guarded = create_app(PlayConfig(host_names=frozenset({"10.0.0.5", "box.lan"})))
    remote = TestClient(guarded, base_url="http://box.lan:80")
    assert remote.get("/api/options").status_code == 200
    assert remote.get("/api/options", headers={"Host": "localhost"}).status_code == 400


def test_malformed_and_oversized_requests_are_400_or_413_and_errors_echo_little(client):
    state = client.post("/api/games", json={"dim": 8, "seats": [{"kind": "human"}] + [{"kind": "greedy"}] * 3}).json()
    game = f"/api/games/{state['id']}"
    for body in (b'{"dim": ' + b"9" * 5000 + b"}", b"[" * 60000 + b"]" * 60000, b"\xff\xfe", b'{"a": NaN'):
        response = client.post("/api/games", content=body[:65536], headers=JSON)
        assert response.status_code == 400, (body[:20], response.text[:200])
    huge = client.post("/api/games", content=b" " * (64 * 1024 + 1), headers=JSON)
    assert huge.status_code == 413

    def chunks():
        for _ in range(100):
            yield b" " * 4096

    assert client.post("/api/games", content=chunks(), headers=JSON).status_code == 413
    floats = client.post(f"{game}/place", json={"moves": 0, "tiles": [0.5] * 5000})
    assert floats.status_code == 400 and len(floats.text) < 600
    assert client.get(game).json() == state


def test_saved_game_files_links_fifos_and_bad_lines(tmp_path):
    folder = tmp_path / "evals"
    folder.mkdir()
    (folder / "good.jsonl").write_text('{"dim": 5, "moves": [[0, 0]], "payoffs": [1, 0, 0, 0]}\n')
    (folder / "bad.jsonl").write_text('{"dim": 5, "moves": "SECRET-CONTENT"}\n')
    secret = tmp_path / "secret.txt"
    secret.write_text('{"dim": 5, "moves": [], "payoffs": [0, 0, 0, 0], "seats": ["SECRET"]}\n')
    (folder / "link.jsonl").symlink_to(secret)
    os.mkfifo(folder / "fifo.jsonl")
    client = TestClient(create_app(PlayConfig(games_dirs=[folder])), base_url="http://localhost")

    listed = {f["name"] for f in client.get("/api/replays").json()["files"]}
    assert listed == {"good.jsonl", "bad.jsonl"}  # no link, no FIFO
    for name in ("link.jsonl", "fifo.jsonl"):
        assert client.get(f"/api/replays/{name}").status_code == 404
    bad = client.get("/api/replays/bad.jsonl")
    assert bad.status_code == 422 and "line 1" in bad.json()["error"] and "SECRET" not in bad.text
    (folder / "illegal.jsonl").write_text('{"dim": 5, "moves": [[0, 0], [1, 4]], "payoffs": [1, 0, 0, 0]}\n')
    illegal = client.get("/api/replays/illegal.jsonl")
    assert illegal.status_code == 422 and "game 1: move 2 is not legal" in illegal.json()["error"]
    # Numbers JSON has not, or that nothing can hold: the file and line are named, never a 500.
    good = '{"dim": 5, "moves": [[0, 0]], "payoffs": [1, 0, 0, 0]}\n'
    for name, line in [("nan.jsonl", '{"dim": 5, "moves": [[0, 0]], "payoffs": [NaN, 0, 0, 0]}'),
                       ("huge.jsonl", '{"dim": 5, "moves": [[0, 0]], "payoffs": [1e999, 0, 0, 0]}'),
                       ("side.jsonl", '{"dim": 1e999, "moves": [[0, 0]], "payoffs": [1, 0, 0, 0]}'),
                       ("half.jsonl", '{"dim": 5.5, "moves": [[0, 0]], "payoffs": [1, 0, 0, 0]}'),
                       ("tile.jsonl", '{"dim": 5, "moves": [[0, 1e999]], "payoffs": [1, 0, 0, 0]}'),
                       ("generation.jsonl", '{"dim": 5, "moves": [[0, 0]], "payoffs": [1, 0, 0, 0], '
                                            '"generation": NaN}')]:
        (folder / name).write_text(good + "\n" + line + "\n")
        damaged = client.get(f"/api/replays/{name}")
        assert damaged.status_code == 422 and f"{name}: line 3" in damaged.json()["error"], damaged.text
    # The listing runs the latest written first.
    os.utime(folder / "good.jsonl", (1, 1))
    os.utime(folder / "illegal.jsonl", (4e9, 4e9))
    listed = [f["name"] for f in client.get("/api/replays").json()["files"]]
    assert listed[0] == "illegal.jsonl" and listed[-1] == "good.jsonl"

    # A FIFO swapped in after the listing is not waited on (it has no writer).
    os.remove(folder / "good.jsonl")
    os.mkfifo(folder / "good.jsonl")
    outcome = []
    reader = threading.Thread(target=lambda: outcome.append(pytest.raises(ReplayUnreadable, read_replay,
                                                                          folder / "good.jsonl")))
    reader.start()
    reader.join(timeout=20)
    assert outcome, "reading a FIFO blocked"


def test_every_generation_of_the_run_is_offered_latest_first(tmp_path, network_file):
    (tmp_path / "run" / "checkpoints").mkdir(parents=True)
    for generation in (0, 3, 12):
        shutil.copy(network_file, tmp_path / "run" / "checkpoints" / f"generation-{generation:04d}.pt")
    offered = networks_offered(argparse.Namespace(run=str(tmp_path / "run"), network=[]))
    mine = [name for name in offered if name.startswith("run/")]
    assert mine == ["run/generation-0012", "run/generation-0003", "run/generation-0000"]
    assert offered["run/generation-0003"].name == "generation-0003.pt"


def test_the_game_in_use_outlives_newer_games(client):
    human = {"dim": 8, "seats": [{"kind": "human"}] * 4}
    mine = client.post("/api/games", json=human).json()["id"]
    others = []
    for _ in range(70):
        others.append(client.post("/api/games", json=human).json()["id"])
        assert client.get(f"/api/games/{mine}").status_code == 200  # still in use
    assert len(client.app.state.games) == 64
    assert client.get(f"/api/games/{others[0]}").status_code == 404  # used longest ago: dropped


def post_json(url, body, timeout=30):
    request = urllib.request.Request(url, data=json.dumps(body).encode(), headers=JSON, method="POST")
    try:
        with urllib.request.urlopen(request, timeout=timeout) as answer:
            return answer.status, json.load(answer)
    except urllib.error.HTTPError as error:
        return error.code, json.load(error)


def in_thread(call, *args):
    """Starts ``call(*args)``; the returned list gets its result."""
    result = []
    threading.Thread(target=lambda: result.append(call(*args)), daemon=True).start()
    return result


def test_three_first_analyses_at_once_share_one_player_built_once(network_file, monkeypatch):
    from tavrin_trainer.learning.inference import onnx_available
    from tavrin_trainer.evaluation.players import NetworkPlayer

    built = []
    original = NetworkPlayer.from_checkpoint.__func__
    monkeypatch.setattr(NetworkPlayer, "from_checkpoint",
                        classmethod(lambda cls, *a, **k: built.append(a) or original(cls, *a, **k)))
    # ONNX Runtime, where installed, is what went wrong: its export run by two threads at once.
    app = create_app(PlayConfig(networks={"tiny": network_file}, inference="onnx" if onnx_available() else "fp32"))
    with serving(app) as url:
        games = [post_json(f"{url}/api/games", {"dim": 8, "seats": [{"kind": "human"}] * 4})[1]["id"]
                 for _ in range(3)]
        answers = [in_thread(post_json, f"{url}/api/games/{game}/analyse", {"network": "tiny"}) for game in games]
        wait_until(lambda: all(answers), 60)
    assert [status for [(status, _)] in answers] == [200] * 3 and len(built) == 1


def wait_until(condition, timeout=20.0):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.02)


def test_searches_are_bounded_queued_stoppable_and_hold_up_nothing_else(network_file, monkeypatch):
    from tavrin_trainer.evaluation.players import NetworkPlayer

    stops = []

    def long_search(stop):  # a search that honours its stop flag, as the players' searches do
        stops.append(stop)
        stop.wait(20)
        return stop.is_set()

    monkeypatch.setattr(NetworkPlayer, "placement_advice",
                        lambda self, game, simulations, stop: long_search(stop) and [])
    monkeypatch.setattr(NetworkPlayer, "choose", lambda self, game, stop: long_search(stop) and 0)
    app = create_app(PlayConfig(networks={"tiny": network_file}, search_threads=1, search_waiting=1))
    ask = {"network": "tiny", "simulations": 64}
    with serving(app) as url:
        def new_game(seats):
            return post_json(f"{url}/api/games", {"dim": 8, "seats": seats})[1]

        a, b, c = (new_game([{"kind": "human"}] * 4)["id"] for _ in range(3))
        first = in_thread(post_json, f"{url}/api/games/{a}/analyse", ask)
        wait_until(lambda: len(stops) == 1)
        second = in_thread(post_json, f"{url}/api/games/{a}/analyse", ask)  # replaces the first
        wait_until(lambda: first and len(stops) == 2)
        assert first[0][0] == 409 and first[0][1]["stopped"] and stops[0].is_set()
        queued = in_thread(post_json, f"{url}/api/games/{b}/analyse", ask)
        wait_until(lambda: app.state.searches.admitted == 2)
        status, refused = post_json(f"{url}/api/games/{c}/analyse", ask)  # one running, one waiting: full
        assert status == 503 and "busy" in refused["error"]
        # The page, a game's state and the static files answer while every search thread is taken.
        for path in ("/", f"/api/games/{c}", "/static/app.js"):
            with urllib.request.urlopen(url + path, timeout=5) as answer:
                assert answer.status == 200
        assert post_json(f"{url}/api/games/{a}/leave", {})[0] == 200
        wait_until(lambda: second and len(stops) == 3)  # the queued analysis runs once the slot is free
        assert second[0][0] == 409 and stops[1].is_set() and not queued
        assert post_json(f"{url}/api/games/{b}/leave", {})[0] == 200
        wait_until(lambda: queued and app.state.searches.admitted == 0)

        # Undo stops a computer move in flight; its piece is never laid.
        game = new_game([{"kind": "human"}, {"kind": "network", "source": "tiny", "simulations": 4, "playouts": 0},
                         {"kind": "human"}, {"kind": "human"}])
        tiles = next(iter(game["placements"].values()))[0]
        post_json(f"{url}/api/games/{game['id']}/place", {"moves": 0, "tiles": tiles})
        move = in_thread(post_json, f"{url}/api/games/{game['id']}/advance", {"moves": 1})
        wait_until(lambda: len(stops) == 4)
        status, undone = post_json(f"{url}/api/games/{game['id']}/undo", {"moves": 1})
        assert status == 200 and undone["moves"] == 0 and stops[3].is_set()
        wait_until(lambda: move)
        assert move[0][0] == 409 and move[0][1]["stopped"] and app.state.games[game["id"]].moves == 0

    # A search past the server's time limit is stopped and says so.
    app = create_app(PlayConfig(networks={"tiny": network_file}, search_time_limit=0.3))
    with serving(app) as url:
        game = post_json(f"{url}/api/games", {"dim": 8, "seats": [{"kind": "human"}] * 4})[1]["id"]
        status, late = post_json(f"{url}/api/games/{game}/analyse", ask)
        assert status == 503 and "limit of 0.3 s" in late["error"] and stops[-1].is_set()
        assert app.state.games[game].analysis is None
