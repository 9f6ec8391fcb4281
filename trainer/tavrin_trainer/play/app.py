"""The web app: the page, and JSON requests for games, analysis, saved games
and a run's curves.

Every game is its own ``PlaySession``; a request that changes one carries the
number of placements the page last saw (``moves``), so a stale or repeated
request is refused instead of applied twice. Searches (a rollout or network
seat's move, an analysis) run on the bounded pool of ``searches``, off the
event loop and off the threads that serve the page and its files; Undo,
leaving a game, its eviction or a newer analysis stop them.
"""

from __future__ import annotations

import json
import math
import socket
import threading
import time
from collections import OrderedDict
from contextlib import asynccontextmanager, contextmanager
from dataclasses import dataclass, field
from importlib.resources import files
from pathlib import Path
from typing import Any, AsyncIterator, Callable, Iterator

import tavrin_engine as te
from starlette.applications import Starlette
from starlette.concurrency import run_in_threadpool
from starlette.middleware import Middleware
from starlette.requests import Request
from starlette.responses import FileResponse, JSONResponse, Response
from starlette.routing import Mount, Route
from starlette.staticfiles import StaticFiles

from tavrin_trainer.core.run_folder.metrics import MetricsLog
from tavrin_trainer.core.run_folder.saved_games import pieces_of
from tavrin_trainer.core.settings.limits import MIN_SIDE
from tavrin_trainer.play.guard import LOOPBACK_NAMES, MAX_BODY_BYTES, BodyTooLarge, RequestGuard
from tavrin_trainer.play.network_players import NetworkPlayers
from tavrin_trainer.play.pieces import catalogue, piece_of
from tavrin_trainer.play.replay_files import ReplayUnreadable, describe_file, read_replay_lines, replay_files
from tavrin_trainer.play.searches import SearchPool, SearchStopped
from tavrin_trainer.play.session import (DEFAULT_SEAT_PLAYOUTS, DEFAULT_SEAT_SIMULATIONS, MAX_SEAT_PLAYOUTS,
                                         MAX_SIMULATIONS, MAX_THINK_MS, PlaySession, RequestRefused, make_seat)
from tavrin_trainer.play.stopping import with_stop

STATIC = Path(__file__).parent / "static"
# Games kept at once; the one used longest ago goes first.
MAX_GAMES = 64
# Longest a seat's move or an analysis may search before it is stopped; the
# page shows it. (4,096 simulations with 16 playouts a leaf took 108 s.)
SEARCH_TIME_LIMIT_S = 60.0
# Seats whose move is a search, run on the search pool; the others move at once.
SEARCHING_SEATS = ("rollout", "network")
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
    search_threads: int | None = None  # searches at once; None: the cores this process may use
    search_waiting: int | None = None  # searches queued beyond those; None: searches.WAITING_PER_THREAD each
    search_time_limit: float = SEARCH_TIME_LIMIT_S


def create_app(config: PlayConfig) -> Starlette:
    games: OrderedDict[str, PlaySession] = OrderedDict()  # the game used last at the end
    games_lock = threading.Lock()
    players = NetworkPlayers(config.networks, config.inference)
    searches = SearchPool(config.search_threads, config.search_waiting)

    def session_of(request: Request) -> PlaySession:
        with games_lock:
            session = games.get(request.path_params["game"])
            if session is not None:
                games.move_to_end(session.id)
        if session is None:
            raise RequestRefused("no such game (the server may have restarted or dropped it): start a new one", 404)
        return session

    @contextmanager
    def holding(session: PlaySession) -> Iterator[None]:
        """The game's lock, held briefly; 409 when another request holds it."""
        if not session.busy.acquire(blocking=False):
            raise RequestRefused("another request is working on this game; wait for it")
        try:
            yield
        finally:
            session.busy.release()

    def expect_moves(session: PlaySession, body: dict) -> None:
        if body.get("moves") != session.moves:
            raise RequestRefused(f"this page is out of date: the game has {session.moves} placements, the request "
                                 f"expected {capped(repr(body.get('moves')), 40)}; reload it")

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
        expect_moves(session, body)

        def run() -> dict[str, Any]:
            with holding(session):
                expect_moves(session, body)
                act(session, body)
                return session.state()

        return JSONResponse(await run_in_threadpool(run))

    async def index(request: Request) -> FileResponse:
        return FileResponse(STATIC / "index.html")

    async def plotly_script(request: Request) -> Response:
        script = plotly_bundle()
        if script is None:  # the page says the curves need plotly
            return Response("/* plotly is not installed */", media_type="text/javascript")
        return FileResponse(script, media_type="text/javascript")

    async def options(request: Request) -> JSONResponse:
        def sides() -> dict[str, int | None]:
            return {name: players.trained_side(name) for name in config.networks}

        return JSONResponse({
            "sides": [MIN_SIDE, te.MAX_SIDE], "default_side": 20, "max_simulations": MAX_SIMULATIONS,
            "seat_defaults": {"simulations": DEFAULT_SEAT_SIMULATIONS, "playouts": DEFAULT_SEAT_PLAYOUTS,
                              "max_playouts": MAX_SEAT_PLAYOUTS, "max_think_ms": MAX_THINK_MS},
            "kinds": ["human", "network", "greedy", "rollout", "random"], "networks": list(config.networks),
            "trained_sides": await run_in_threadpool(sides), "search_time_limit_s": config.search_time_limit,
            "run": str(config.run_dir) if config.run_dir else None,
            "pieces": {str(k): [list(square) for square in v] for k, v in catalogue().items()},
        })

    async def new_game(request: Request) -> JSONResponse:
        body = await body_of(request)
        seats = body.get("seats")
        if not isinstance(seats, list):
            raise RequestRefused("a new game gives its four seats as a list", 400)

        def build() -> PlaySession:
            return PlaySession(body.get("dim", 20), [make_seat(choice, players.player) for choice in seats])

        session = await run_in_threadpool(build)
        with games_lock:
            games[session.id] = session
            dropped = [games.popitem(last=False)[1] for _ in range(len(games) - MAX_GAMES)]
        for old in dropped:
            old.stop_searches(f"the game was dropped: the server keeps the {MAX_GAMES} games used last")
        return JSONResponse(session.state())

    async def game_state(request: Request) -> JSONResponse:
        return JSONResponse(session_of(request).state())

    async def place(request: Request) -> JSONResponse:
        return await change(request, lambda session, body: session.place(body.get("tiles")))

    async def advance(request: Request) -> JSONResponse:
        session = session_of(request)
        seat = session.seat_to_move()
        if seat is None or seat.kind not in SEARCHING_SEATS:  # a person's turn, the end, or a move of no time
            return await change(request, lambda session, body: session.advance())
        body = await body_of(request)
        with holding(session):
            expect_moves(session, body)
            if session.move_search is not None:
                raise RequestRefused("the computer is already making this move")
            search = searches.start(session.computer_piece, config.search_time_limit)
            session.move_search = search
        try:
            piece = await search.answer
        finally:
            if session.move_search is search:
                session.move_search = None

        def lay() -> dict[str, Any]:
            with session.busy:  # held briefly by anyone: wait for it
                if search.stopped:
                    raise SearchStopped("the move was stopped")
                session.commit(piece)
                return session.state()

        return JSONResponse(await run_in_threadpool(lay))

    async def undo(request: Request) -> JSONResponse:
        session = session_of(request)
        session.stop_searches("the game was undone")
        return await change(request, lambda session, body: session.undo())

    async def leave(request: Request) -> JSONResponse:
        """The page left the game (New game, a closed tab): its searches stop."""
        session = session_of(request)
        session.stop_searches("the page left this game")
        return JSONResponse({"moves": session.moves})

    async def analyse(request: Request) -> JSONResponse:
        session = session_of(request)
        body = await body_of(request)
        simulations = body.get("simulations", 0)
        if not isinstance(simulations, int) or isinstance(simulations, bool) or not 0 <= simulations <= MAX_SIMULATIONS:
            raise RequestRefused(f"simulations must be a whole number from 0 to {MAX_SIMULATIONS}", 400)
        name = body.get("network")
        if not isinstance(name, str):
            raise RequestRefused("name the network to analyse with", 400)

        player = await run_in_threadpool(players.player, name, 0)
        with holding(session):
            game, moves = session.game.copy(), session.moves
        if game.is_terminal():
            raise RequestRefused("the game is over: nothing to analyse")

        def run(stop: threading.Event) -> dict[str, Any]:
            policy, values = player.evaluate(game)
            answer = {"moves": moves, "policy": policy.tolist(), "values": values.tolist(),
                      "player": game.current_player}
            if simulations:
                advice = with_stop(player.placement_advice, stop)(game, simulations)
                answer["simulations"] = simulations
                answer["visits"] = visit_shares_of(advice, game.dim)
                answer["placements"] = [
                    {"squares": list(squares), "piece": piece_of(squares, game.dim), "share": share, "value": value}
                    for squares, share, value in advice[:MAX_ADVICE] if share >= MIN_ADVICE_SHARE]
            if not all_finite(answer):
                raise RequestRefused(f"the network {name!r} answers with numbers that are not finite: its "
                                     f"checkpoint is damaged", 422)
            return answer

        search = searches.start(run, config.search_time_limit)
        if session.analysis is not None:  # one analysis a game: the newer one replaces it
            session.analysis.stop("a newer analysis of this game replaced this one")
        session.analysis = search
        try:
            return JSONResponse(await search.answer)
        finally:
            if session.analysis is search:
                session.analysis = None

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
                saved = read_replay_lines(path)
            except ReplayUnreadable as error:
                raise RequestRefused(str(error), 422) from None
            games = []
            for number, (line, game) in enumerate(saved, start=1):
                try:
                    pieces = pieces_of(game)
                except ValueError as error:
                    raise RequestRefused(f"{path.name}: line {line}, game {number}: {error}", 422) from None
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
        answer = {"error": capped(str(error))}
        if isinstance(error, SearchStopped):  # the page drops it: whoever stopped it has its own answer
            answer["stopped"] = True
        return JSONResponse(answer, status_code=error.status)

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
        Route("/api/games/{game}/leave", leave, methods=["POST"]),
        Route("/api/games/{game}/analyse", analyse, methods=["POST"]),
        Route("/api/replays", replays),
        Route("/api/replays/{file}", replay),
        Route("/api/metrics", metrics),
        Route("/vendor/plotly.min.js", plotly_script),
        Mount("/static", StaticFiles(directory=STATIC), name="static"),
    ]
    @asynccontextmanager
    async def lifespan(app: Starlette) -> AsyncIterator[None]:
        yield
        # Stopping: searches in flight end at their next check instead of holding up the exit.
        with games_lock:
            sessions = list(games.values())
        for session in sessions:
            session.stop_searches("the server is stopping")
        searches.shutdown()

    app = Starlette(routes=routes, exception_handlers={RequestRefused: refused, BodyTooLarge: too_large},
                    middleware=[Middleware(RequestGuard, allowed_names=config.host_names)], lifespan=lifespan)
    app.state.games = games  # the sessions, by id: for tests and embedding
    app.state.searches = searches
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


def all_finite(value: Any) -> bool:
    """Whether every number in a JSON-like value is finite (JSON has no NaN)."""
    if isinstance(value, float):
        return math.isfinite(value)
    if isinstance(value, dict):
        return all(all_finite(v) for v in value.values())
    if isinstance(value, (list, tuple)):
        return all(all_finite(v) for v in value)
    return True


def capped(message: str, most: int = 400) -> str:
    """An error message cut to ``most`` characters: it may quote what a request sent."""
    return message if len(message) <= most else message[:most] + "… (cut)"
