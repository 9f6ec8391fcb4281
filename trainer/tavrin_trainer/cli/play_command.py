"""tavrin-play: play, analyse and watch in the browser."""

from __future__ import annotations

import argparse
import socket
import sys
import webbrowser
from pathlib import Path

from tavrin_trainer.core.run_folder.run_directory import (PRETRAINED_CHECKPOINT, PRETRAINED_NAME, RunDirectory,
                                                         RunDirectoryError, resolve_checkpoint)
from tavrin_trainer.learning.inference import resolve_backend

# The play extra (starlette, uvicorn) is imported once the flags are read, so
# that --help works without it and its absence gets an answer.

DESCRIPTION = """\
A local web app: play a game against networks and fixed players (you place
whole pieces, turning and flipping them; the other seats move by themselves),
see what a network thinks of a position and where its search goes, replay
saved games move by move, and follow a run's curves while it trains.

  tavrin-play --run runs/X               # its latest network, its games and curves
  tavrin-play --network a.pt --network pretrained --games evals/

It listens on 127.0.0.1 only, at a free port unless --port is given, and
prints the address; --open also opens it in a browser.
"""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tavrin-play", description=DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--run", metavar="RUN_DIR", help="A run directory: every generation's network joins the "
                        "players (the latest first), its saved games the replays, its metrics.csv the curves.")
    parser.add_argument("--network", action="append", default=[], metavar="CHECKPOINT",
                        help="A network to play or analyse with: a checkpoint file, a run directory or "
                             "pretrained; repeat for several. The shipped pretrained network is offered "
                             "whenever it is installed.")
    parser.add_argument("--games", action="append", default=[], metavar="DIR",
                        help="A folder of saved games (*.jsonl, e.g. tavrin-eval --save-games DIR) to replay.")
    parser.add_argument("--port", type=int, default=0, help="Port to listen on (default: a free one).")
    parser.add_argument("--host", default="127.0.0.1",
                        help="Address to listen on (default 127.0.0.1). Anything else lets other machines in: "
                             "the app has no login.")
    parser.add_argument("--allow-host", action="append", default=[], metavar="NAME",
                        help="With --host: a further name the server answers to in the Host header (a DNS name of "
                             "this machine); repeat for several. On loopback it answers to 127.0.0.1, localhost and "
                             "[::1]; elsewhere to the --host address and these names. Requests for any other name, "
                             "and requests from pages of other sites, are refused.")
    parser.add_argument("--open", action="store_true", help="Open the page in the default browser.")
    return parser


def networks_offered(args: argparse.Namespace) -> dict[str, Path]:
    """Names the page shows, each with its checkpoint; FileNotFoundError or
    RunDirectoryError for one that cannot be found."""
    offered: dict[str, Path] = {}
    if PRETRAINED_CHECKPOINT.is_file():
        offered[PRETRAINED_NAME] = PRETRAINED_CHECKPOINT
    if args.run:
        # Every generation of the run, the latest first, so a seat can play what any of them learnt.
        run = RunDirectory(args.run)
        for generation in reversed(run.generations()):
            path = run.checkpoint_path(generation)
            offered[f"{Path(args.run).name}/{path.stem}"] = path
    for source in args.network:
        path = resolve_checkpoint(source)
        name = PRETRAINED_NAME if source == PRETRAINED_NAME else f"{Path(source).name}/{path.stem}"
        offered[name] = path
    return offered


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        import uvicorn  # noqa: F401

        from tavrin_trainer.play.app import PlayConfig, create_app
        from tavrin_trainer.play.guard import names_for
    except ImportError as missing:
        parser.error(f"tavrin-play needs its extra: pip install \".[play]\" ({missing})")
    if args.run and not Path(args.run).is_dir():
        parser.error(f"--run {args.run}: no such run directory")
    for folder in args.games:
        if not Path(folder).is_dir():
            parser.error(f"--games {folder}: no such folder")
    try:
        networks = networks_offered(args)
    except (FileNotFoundError, RunDirectoryError) as error:
        parser.error(str(error))
    if args.host not in ("127.0.0.1", "localhost", "::1"):
        print(f"warning: listening on {args.host}: any machine that reaches it can use this app, which has no "
              f"login", file=sys.stderr)
    try:
        listener = socket.create_server((args.host, args.port))
    except OSError as error:
        parser.error(f"cannot listen on {args.host}:{args.port}: {error.strerror or error}")
    # ONNX Runtime when installed: several times faster than torch on one position at a time.
    app = create_app(PlayConfig(networks=networks, run_dir=Path(args.run) if args.run else None,
                                games_dirs=[Path(folder) for folder in args.games],
                                inference=resolve_backend("auto", "cpu"),
                                host_names=names_for(args.host, args.allow_host)))
    host, port = listener.getsockname()[:2]
    url = f"http://{'[' + host + ']' if ':' in host else host}:{port}/"
    print(f"tavrin-play: open {url} (Ctrl-C stops it)", flush=True)
    if args.open:
        webbrowser.open(url)
    return serve(app, listener)


def serve(app, listener: socket.socket) -> int:
    import uvicorn

    server = uvicorn.Server(uvicorn.Config(app, log_level="warning"))
    try:
        server.run(sockets=[listener])
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
