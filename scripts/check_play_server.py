"""Checks tavrin-play as a person and a hostile page would use it, against a
server started here on 127.0.0.1 (the tavrin-play command itself, with the
shipped network and two damaged saved-game files), and prints a pass count:

  1 a new game                              5 the game in use after 70 newer games
  2 three simultaneous first analyses       6 a POST from another local port's page
  3 a saved-game file with a NaN payoff      7 GET / within 2 s while 45 analyses of
  4 a saved-game file with "dim": 1e999        1,024 simulations are asked
                                            8 none of those 45 answered 500

and whether the server's log shows a traceback.

  PYTHONPATH=trainer python scripts/check_play_server.py
"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request
from pathlib import Path

HUMANS = {"dim": 20, "seats": [{"kind": "human"}] * 4}
LOAD = 45
LOAD_SIMULATIONS = 1024


def call(url: str, body: dict | None = None, headers: dict | None = None, timeout: float = 300):
    """(status, answer as JSON or text) of a GET, or of a POST of ``body``."""
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(url, data=data, headers={"Content-Type": "application/json", **(headers or {})},
                                     method="GET" if body is None else "POST")
    try:
        with urllib.request.urlopen(request, timeout=timeout) as answer:
            status, text = answer.status, answer.read().decode()
    except urllib.error.HTTPError as error:
        status, text = error.code, error.read().decode()
    try:
        return status, json.loads(text)
    except ValueError:
        return status, text


def at_once(calls: list) -> list:
    """The answers of ``calls`` (functions of nothing), made at the same time."""
    answers: list = [None] * len(calls)
    start = threading.Barrier(len(calls))

    def run(k: int) -> None:
        start.wait()
        try:
            answers[k] = calls[k]()
        except Exception as error:  # a reset connection counts against the case
            answers[k] = (None, repr(error))

    threads = [threading.Thread(target=run, args=(k,)) for k in range(len(calls))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=600)
    return answers


def main() -> int:
    folder = Path(tempfile.mkdtemp(prefix="check-play-"))
    games = folder / "games"
    games.mkdir()
    (games / "nan-payoff.jsonl").write_text('{"dim": 5, "moves": [[0, 0]], "payoffs": [NaN, 0, 0, 0]}\n')
    (games / "huge-side.jsonl").write_text('{"dim": 1e999, "moves": [[0, 0]], "payoffs": [1, 0, 0, 0]}\n')
    log = folder / "server.log"
    with open(log, "w") as log_file:
        server = subprocess.Popen([sys.executable, "-m", "tavrin_trainer.cli.play_command", "--network", "pretrained",
                                   "--games", str(games)], stdout=subprocess.PIPE, stderr=log_file, text=True)
    results: list[tuple[str, bool, str]] = []

    def case(name: str, passed: bool, detail: str = "") -> None:
        results.append((name, passed, detail))
        print(f"{'pass' if passed else 'FAIL'}  {name}{': ' + detail if detail else ''}", flush=True)

    try:
        line = server.stdout.readline()
        url = line.split()[2].rstrip("/")
        port = int(url.rsplit(":", 1)[1])

        status, game = call(f"{url}/api/games", HUMANS)
        case("a new game", status == 200 and isinstance(game, dict) and "id" in game, f"{status}")

        ids = [call(f"{url}/api/games", HUMANS)[1]["id"] for _ in range(3)]
        first = at_once([lambda g=g: call(f"{url}/api/games/{g}/analyse", {"network": "pretrained"}) for g in ids])
        case("three simultaneous first analyses", [s for s, _ in first] == [200] * 3, f"{[s for s, _ in first]}")

        for name in ("nan-payoff.jsonl", "huge-side.jsonl"):
            status, answer = call(f"{url}/api/replays/{name}")
            error = answer.get("error", "") if isinstance(answer, dict) else str(answer)
            case(f"damaged file {name}", status == 422 and f"{name}: line 1" in error, f"{status} {error}")

        mine = game["id"]
        for _ in range(70):
            call(f"{url}/api/games", HUMANS)
            call(f"{url}/api/games/{mine}")
        status, _ = call(f"{url}/api/games/{mine}")
        case("the game in use after 70 newer games", status == 200, f"{status}")

        status, answer = call(f"{url}/api/games", HUMANS, headers={"Origin": f"http://127.0.0.1:{port + 1}"})
        case("a POST from another local port's page", status == 403, f"{status}")

        loaded = [call(f"{url}/api/games", HUMANS)[1]["id"] for _ in range(LOAD)]
        analyses: list = []
        asking = threading.Thread(target=lambda: analyses.extend(at_once(
            [lambda g=g: call(f"{url}/api/games/{g}/analyse", {"network": "pretrained",
                                                                "simulations": LOAD_SIMULATIONS}) for g in loaded])))
        asking.start()
        time.sleep(1.0)  # the analyses are in
        started = time.monotonic()
        status, _ = call(f"{url}/", timeout=30)
        seconds = time.monotonic() - started
        case(f"GET / while {LOAD} analyses of {LOAD_SIMULATIONS} simulations are asked",
             status == 200 and seconds < 2, f"{status} in {seconds:.2f} s")
        asking.join(timeout=600)
        statuses = [status for status, _ in analyses]
        counts = {s: statuses.count(s) for s in sorted(set(statuses), key=str)}
        answered = len(statuses) == LOAD and all(s in (200, 409, 503) for s in statuses)
        case(f"none of those {LOAD} answered 500", answered,
             f"answers by status: {counts}")
    finally:
        server.terminate()
        server.wait(timeout=30)
    text = log.read_text()
    print(f"server log: {'a traceback' if 'Traceback' in text else 'no traceback'} ({len(text.splitlines())} lines)")
    if "Traceback" in text:
        print(text[-4000:])
    passed = sum(ok for _, ok, _ in results)
    print(f"{passed} of {len(results)} cases pass")
    return 0 if passed == len(results) == 8 and "Traceback" not in text else 1


if __name__ == "__main__":
    os.environ.setdefault("PYTHONUNBUFFERED", "1")
    sys.exit(main())
