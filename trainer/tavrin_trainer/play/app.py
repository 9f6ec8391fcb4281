"""The web app: the page, and JSON requests for games, analysis, saved games
and a run's curves.

Every game is its own ``PlaySession``; a request that changes one carries the
number of placements the page last saw (``moves``), so a stale or repeated
request is refused instead of applied twice. Searches and computer moves run
in worker threads, off the event loop: one slow move holds up no other game.
"""

from __future__ import annotations

import json
import socket
import threading
import time
from collections import OrderedDict
from contextlib import contextmanager
from dataclasses import dataclass, field
from functools import lru_cache
from importlib.resources import files
from pathlib import Path
from typing import Any, Callable, Iterator

import tavrin_engine as te
from starlette.applications import Starlette
from starlette.concurrency import run_in_threadpool
from starlette.middleware import Middleware
from starlette.requests import Request
from starlette.responses import FileResponse, JSONResponse, Response
from starlette.routing import Mount, Route
from starlette.staticfiles import StaticFiles

from tavrin_trainer.core.settings.limits import MIN_SIDE
from tavrin_trainer.core.run_folder.metrics import MetricsLog
from tavrin_trainer.core.run_folder.saved_games import pieces_of
from tavrin_trainer.evaluation.players import NetworkPlayer
from tavrin_trainer.play.guard import LOOPBACK_NAMES, MAX_BODY_BYTES, BodyTooLarge, RequestGuard
from tavrin_trainer.play.pieces import catalogue, piece_of
from tavrin_trainer.play.replay_files import ReplayUnreadable, describe_file, read_replay, replay_files
from tavrin_trainer.play.session import (DEFAULT_SEAT_PLAYOUTS, DEFAULT_SEAT_SIMULATIONS, MAX_SEAT_PLAYOUTS,
                                         MAX_SIMULATIONS, PLAYOUT_WEIGHT, PlaySession, RequestRefused, make_seat)

STATIC = Path(__file__).parent / "static"
# Games kept at once; the oldest goes first.
MAX_GAMES = 64
# Placements an analysis lists: the most tried, each with at least this share of the search.
MAX_ADVICE = 8
MIN_ADVICE_SHARE = 0.01


@dataclass
class PlayConfig:
    """What the server offers: networks by name (checkpoint paths) and,
    optionally, the run whose games and curves it shows."""

    networks: dict[str, Path] = field(default_factory=dict)
    run_dir: Path | None = None
    games_dirs: list[Path] = field(default_factory=list)  # more saved-game files (arena games)
    inference: str = "fp32"  # how the networks run: fp32, bf16 or onnx
    # The Host names it answers to (guard.names_for): by default a loopback server's.
    host_names: frozenset[str] = frozenset(LOOPBACK_NAMES)


def create_app(config: PlayConfig) -> Starlette:
    games: OrderedDict[str, PlaySession] = OrderedDict()
    games_lock = threading.Lock()

    @lru_cache(maxsize=16)
    def network_player(name: str, simulations: int, playouts: int = 0):
        if name not in config.networks:
            raise RequestRefused(f"no network named {name!r}; this server offers: "
                                 f"{', '.join(config.networks) or 'none'}", 400)
        return NetworkPlayer.from_checkpoint(config.networks[name], simulations=simulations,
                                             inference=config.inference, playouts=playouts,
                                             playout_weight=PLAYOUT_WEIGHT)

    def session_of(request: Request) -> PlaySession:
        with games_lock:
            session = games.get(request.path_params["game"])
        if session is None:
            raise RequestRefused("no such game (the server may have restarted): start a new one", 404)
        return session

    async def body_of(request: Request) -> dict[str, Any]:
        try:
            body = json.loads(await request.body() or b"{}")
        except (ValueError, RecursionError):  # not JSON, not UTF-8, an integer of thousands of digits, deep nesting
            raise RequestRefused("the request body is not JSON that this app reads", 400) from None
        if not isinstance(body, dict):
            raise RequestRefused("the request body is a JSON object", 400)
        return body

    async def change(request: Request, act: Callable[[PlaySession, dict], None]) -> JSONResponse:
        """Runs ``act`` on the game in a worker thread if the page saw its
        latest state and no other request is working on it."""
        session = session_of(request)
        body = await body_of(request)
        if body.get("moves") != session.moves:
            raise RequestRefused(f"this page is out of date: the game has {session.moves} placements, the request "
                                 f"expected {body.get('moves')!r}; reload it")

        def run() -> dict[str, Any]:
            if not session.busy.acquire(blocking=False):
                raise RequestRefused("another request is working on this game; wait for it")
            try:
                if body.get("moves") != session.moves:
                    raise RequestRefused("this page is out of date; reload it")
                act(session, body)
                return session.state()
            finally:
                session.busy.release()

        return JSONResponse(await run_in_threadpool(run))

    async def index(request: Request) -> FileResponse:
        return FileResponse(STATIC / "index.html")

    async def plotly_script(request: Request) -> Response:
        script = plotly_bundle()
        if script is None:  # the page says the curves need plotly
            return Response("/* plotly is not installed */", media_type="text/javascript")
        return FileResponse(script, media_type="text/javascript")

    async def options(request: Request) -> JSONResponse:
        return JSONResponse({
            "sides": [MIN_SIDE, te.MAX_SIDE], "default_side": 20, "max_simulations": MAX_SIMULATIONS,
            "seat_defaults": {"simulations": DEFAULT_SEAT_SIMULATIONS, "playouts": DEFAULT_SEAT_PLAYOUTS,
                              "max_playouts": MAX_SEAT_PLAYOUTS},
            "kinds": ["human", "network", "greedy", "rollout", "random"], "networks": list(config.networks),
            "run": str(config.run_dir) if config.run_dir else None,
            "pieces": {str(k): [list(square) for square in v] for k, v in catalogue().items()},
        })

    async def new_game(request: Request) -> JSONResponse:
        body = await body_of(request)
        seats = body.get("seats")
        if not isinstance(seats, list):
            raise RequestRefused("a new game gives its four seats as a list", 400)

        def build() -> PlaySession:
            return PlaySession(body.get("dim", 20), [make_seat(choice, network_player) for choice in seats])

        session = await run_in_threadpool(build)
        with games_lock:
            games[session.id] = session
            while len(games) > MAX_GAMES:
                games.popitem(last=False)
        return JSONResponse(session.state())

    async def game_state(request: Request) -> JSONResponse:
        return JSONResponse(session_of(request).state())

    async def place(request: Request) -> JSONResponse:
        return await change(request, lambda session, body: session.place(body.get("tiles")))

    async def advance(request: Request) -> JSONResponse:
        return await change(request, lambda session, body: session.advance())

    async def undo(request: Request) -> JSONResponse:
        return await change(request, lambda session, body: session.undo())

    async def analyse(request: Request) -> JSONResponse:
        session = session_of(request)
        body = await body_of(request)
        simulations = body.get("simulations", 0)
        if not isinstance(simulations, int) or isinstance(simulations, bool) or not 0 <= simulations <= MAX_SIMULATIONS:
            raise RequestRefused(f"simulations must be a whole number from 0 to {MAX_SIMULATIONS}", 400)
        name = body.get("network")
        if not isinstance(name, str):
            raise RequestRefused("name the network to analyse with", 400)

        def run() -> dict[str, Any]:
            player = network_player(name, 0)
            if not session.busy.acquire(blocking=False):
                raise RequestRefused("a move is being made in this game; analyse once it is done")
            try:
                game, moves = session.game.copy(), session.moves
            finally:
                session.busy.release()
            if game.is_terminal():
                raise RequestRefused("the game is over: nothing to analyse")
            policy, values = player.evaluate(game)
            answer = {"moves": moves, "policy": policy.tolist(), "values": values.tolist(),
                      "player": game.current_player}
            if simulations:
                advice = player.placement_advice(game, simulations)
                answer["simulations"] = simulations
                answer["visits"] = visit_shares_of(advice, game.dim)
                answer["placements"] = [
                    {"squares": list(squares), "piece": piece_of(squares, game.dim), "share": share, "value": value}
                    for squares, share, value in advice[:MAX_ADVICE] if share >= MIN_ADVICE_SHARE]
            return answer

        return JSONResponse(await run_in_threadpool(run))

    async def replays(request: Request) -> JSONResponse:
        def listing() -> list[dict[str, Any]]:
            return [describe_file(path) for path in replay_files(config.run_dir, config.games_dirs)]

        return JSONResponse({"files": await run_in_threadpool(listing)})

    async def replay(request: Request) -> JSONResponse:
        name = request.path_params["file"]

        def load() -> dict[str, Any]:
            path = {path.name: path for path in replay_files(config.run_dir, config.games_dirs)}.get(name)
            if path is None:
                raise RequestRefused("no such saved-game file", 404)
            try:
                saved = read_replay(path)
            except ReplayUnreadable as error:
                raise RequestRefused(str(error), 422) from None
            games = []
            for number, game in enumerate(saved, start=1):
                try:
                    pieces = pieces_of(game)
                except ValueError as error:
                    raise RequestRefused(f"{path.name}: game {number}: {error}", 422) from None
                games.append({**json.loads(game.to_json()), "pieces": pieces})
            return {"file": path.name, "games": games}

        return JSONResponse(await run_in_threadpool(load))

    async def metrics(request: Request) -> JSONResponse:
        if config.run_dir is None:
            raise RequestRefused("this server follows no run (start it with --run)", 404)
        path = config.run_dir / "metrics.csv"
        return JSONResponse({"run": str(config.run_dir), "rows": MetricsLog(path).rows() if path.exists() else []})

    async def refused(request: Request, error: Exception) -> JSONResponse:
        assert isinstance(error, RequestRefused)
        return JSONResponse({"error": capped(str(error))}, status_code=error.status)

    async def too_large(request: Request, error: Exception) -> JSONResponse:
        return JSONResponse({"error": f"a request body is at most {MAX_BODY_BYTES} bytes"}, status_code=413)

    routes = [
        Route("/", index),
        Route("/api/options", options),
        Route("/api/games", new_game, methods=["POST"]),
        Route("/api/games/{game}", game_state),
        Route("/api/games/{game}/place", place, methods=["POST"]),
        Route("/api/games/{game}/advance", advance, methods=["POST"]),
        Route("/api/games/{game}/undo", undo, methods=["POST"]),
        Route("/api/games/{game}/analyse", analyse, methods=["POST"]),
        Route("/api/replays", replays),
        Route("/api/replays/{file}", replay),
        Route("/api/metrics", metrics),
        Route("/vendor/plotly.min.js", plotly_script),
        Mount("/static", StaticFiles(directory=STATIC), name="static"),
    ]
    app = Starlette(routes=routes, exception_handlers={RequestRefused: refused, BodyTooLarge: too_large},
                    middleware=[Middleware(RequestGuard, allowed_names=config.host_names)])
    app.state.games = games  # the sessions, by id: for tests and embedding
    return app


@contextmanager
def serving(app: Starlette, host: str = "127.0.0.1", port: int = 0) -> Iterator[str]:
    """The app served by uvicorn in a background thread while the block
    runs (tests, scripts); yields its address."""
    import uvicorn  # slow to load, and only serving needs it

    listener = socket.create_server((host, port))
    server = uvicorn.Server(uvicorn.Config(app, log_level="warning"))
    thread = threading.Thread(target=server.run, kwargs={"sockets": [listener]}, daemon=True)
    thread.start()
    while not server.started and thread.is_alive():
        time.sleep(0.05)
    try:
        yield f"http://{host}:{listener.getsockname()[1]}"
    finally:
        server.should_exit = True
        thread.join(timeout=10)


def plotly_bundle() -> Path | None:
    """The browser build of Plotly that the plotly Python package carries, if installed."""
    try:
        bundle = files("plotly") / "package_data" / "plotly.min.js"
    except ModuleNotFoundError:
        return None
    return Path(str(bundle)) if bundle.is_file() else None


def visit_shares_of(advice, dim: int) -> list[float]:
    """Per cell, the share of the search's whole placements that lay a square there."""
    shares = [0.0] * (dim * dim)
    for squares, share, _ in advice:
        for square in squares:
            shares[square] += share
    return shares


def capped(message: str, most: int = 400) -> str:
    """An error message cut to ``most`` characters: it may quote what a request sent."""
    return message if len(message) <= most else message[:most] + "… (cut)"
