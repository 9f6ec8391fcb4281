"""The processes of a run: inference servers and game workers, started and
stopped together.

``Cluster.run`` hands out tasks and yields results as they come, watching
every process meanwhile: a worker or server that dies, or a game the engine
could not finish, stops the whole cluster with a ``ClusterFailure`` naming the
culprit. Stopping (also on Ctrl-C in the parent) ends every child.
"""

from __future__ import annotations

import importlib.util
import multiprocessing
import queue
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Iterable, Iterator

from tavrin_trainer.selfplay.server_engine.game_worker import Task, TaskResult, worker_main
from tavrin_trainer.selfplay.server_engine.inference_server import ServerOptions, serve

START_TIMEOUT_S = 120.0
CONTROL_TIMEOUT_S = 60.0
JOIN_TIMEOUT_S = 5.0
# How long a failed game waits for a dying server to show its exit code.
SERVER_EXIT_GRACE_S = 2.0
WATCH_INTERVAL_S = 0.2


class ClusterFailure(RuntimeError):
    pass


@dataclass
class ClusterOptions:
    workers: int
    server: ServerOptions
    log_dir: Path
    engine_module: str = "tavrin_self_play"


class ServerHandle:
    def __init__(self, ctx: Any, name: str, options: ServerOptions, checkpoint: str, worker_count: int) -> None:
        self.name = name
        self.requests = ctx.Queue()
        pairs = [ctx.Pipe(duplex=False) for _ in range(worker_count)]
        self.reply_ends = [receive for receive, _ in pairs]
        self._send_ends = {worker_id: send for worker_id, (_, send) in enumerate(pairs)}
        self.control, child_control = ctx.Pipe()
        self._child_control = child_control
        self.process = ctx.Process(target=serve, name=f"tavrin-server-{name}", daemon=True,
                                   args=(name, options, checkpoint, self.requests, self._send_ends, child_control))

    def start(self) -> None:
        self.process.start()
        # The server must hold the only write ends, or its death would not reach the workers.
        for send in self._send_ends.values():
            send.close()
        self._child_control.close()

    def wait_ready(self) -> None:
        self._expect("ready", START_TIMEOUT_S)

    def load(self, checkpoint: str | Path) -> None:
        self._ask(("load", str(checkpoint)), "loaded")

    def take_stats(self) -> dict[str, Any]:
        return self._ask(("stats",), "stats")[1]

    def _ask(self, message: tuple, answer: str) -> tuple:
        try:
            self.control.send(message)
        except OSError:
            self._raise_dead()
        return self._expect(answer, CONTROL_TIMEOUT_S)

    def stop(self) -> None:
        if self.process.is_alive():
            try:
                self.control.send(("stop",))
                if self.control.poll(JOIN_TIMEOUT_S):
                    self.control.recv()
            except (OSError, EOFError):
                pass
        _end_process(self.process)
        self.requests.cancel_join_thread()
        self.requests.close()

    def _expect(self, kind: str, timeout: float) -> tuple:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            alive = self.process.is_alive()  # before the poll: a last message may precede the exit
            try:
                message = self.control.recv() if self.control.poll(WATCH_INTERVAL_S) else None
            except (EOFError, OSError):
                self._raise_dead()  # the control pipe closes only when the server exits
            if message is not None:
                if message[0] == kind:
                    return message
                raise ClusterFailure(f"inference server '{self.name}': {message[1]}")
            if not alive:
                break
        if self.process.is_alive():
            raise ClusterFailure(f"inference server '{self.name}' did not answer within {timeout:.0f} s")
        self._raise_dead()

    def _raise_dead(self) -> None:
        self.process.join(JOIN_TIMEOUT_S)
        raise ClusterFailure(f"inference server '{self.name}' exited with code {self.process.exitcode}")


def _end_process(process: Any) -> None:
    if process.pid is None:
        return
    process.join(JOIN_TIMEOUT_S)
    if process.is_alive():
        process.terminate()
        process.join(JOIN_TIMEOUT_S)
    if process.is_alive():
        process.kill()
        process.join()


class Cluster:
    """Servers named in ``checkpoints`` (for example "model" and "baseline")
    plus ``options.workers`` workers; use as a context manager."""

    def __init__(self, options: ClusterOptions, checkpoints: dict[str, str | Path]) -> None:
        self.options = options
        self.ctx = multiprocessing.get_context("spawn")
        self.tasks = self.ctx.Queue()
        self.results = self.ctx.Queue()
        self.stop_event = self.ctx.Event()
        self.servers = {name: ServerHandle(self.ctx, name, options.server, str(path), options.workers)
                        for name, path in checkpoints.items()}
        self.workers: list[Any] = []
        self._next_task_id = 0
        self._stopped = False

    def log_path(self, worker_id: int) -> Path:
        return self.options.log_dir / f"worker-{worker_id}.log"

    def start(self) -> "Cluster":
        if importlib.util.find_spec(self.options.engine_module) is None:
            raise ClusterFailure(f"the engine module {self.options.engine_module} is not installed "
                                 f"(pip install . from the repository root builds it)")
        self.options.log_dir.mkdir(parents=True, exist_ok=True)
        try:
            for server in self.servers.values():
                server.start()
            requests = {name: server.requests for name, server in self.servers.items()}
            for worker_id in range(self.options.workers):
                ends = {name: server.reply_ends[worker_id] for name, server in self.servers.items()}
                process = self.ctx.Process(
                    target=worker_main, name=f"tavrin-worker-{worker_id}", daemon=True,
                    args=(worker_id, self.options.engine_module, self.tasks, self.results, self.stop_event,
                          requests, ends, str(self.log_path(worker_id))))
                process.start()
                self.workers.append(process)
            for server in self.servers.values():
                for end in server.reply_ends:
                    end.close()
                server.wait_ready()
        except BaseException:
            self.stop()
            raise
        return self

    def __enter__(self) -> "Cluster":
        return self.start()

    def __exit__(self, *exc_info: Any) -> None:
        self.stop()

    def run(self, kind: str, configs: Iterable[Any]) -> Iterator[TaskResult]:
        """Plays one game per config and yields the results in completion order."""
        pending = set()
        for config in configs:
            self.tasks.put(Task(self._next_task_id, kind, config))
            pending.add(self._next_task_id)
            self._next_task_id += 1
        while pending:
            try:
                result: TaskResult = self.results.get(timeout=WATCH_INTERVAL_S)
            except queue.Empty:
                self.check_alive()
                continue
            if result.status != 0:
                # A dead server is the real cause of a failed game; its pipe closes
                # before its exit code can be read, so give it a moment.
                self._wait_for_server_exit(SERVER_EXIT_GRACE_S)
                self.check_alive()
                raise ClusterFailure(
                    f"worker {result.worker_id} could not finish a {result.kind} game: {result.error} "
                    f"(log: {self.log_path(result.worker_id)})")
            pending.discard(result.task_id)
            yield result

    def _wait_for_server_exit(self, timeout: float) -> None:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(not server.process.is_alive() for server in self.servers.values()):
                return
            time.sleep(0.05)

    def check_alive(self) -> None:
        for name, server in self.servers.items():
            if not server.process.is_alive():
                raise ClusterFailure(f"inference server '{name}' exited with code {server.process.exitcode}")
        for worker_id, process in enumerate(self.workers):
            if not process.is_alive():
                raise ClusterFailure(f"worker {worker_id} exited with code {process.exitcode} "
                                     f"(log: {self.log_path(worker_id)})")

    def stop(self) -> None:
        if self._stopped:
            return
        self._stopped = True
        self.stop_event.set()
        # Servers first: a worker in the middle of a game then fails fast on end-of-file.
        for server in self.servers.values():
            server.stop()
        for _ in self.workers:
            self.tasks.put(None)
        deadline = time.monotonic() + JOIN_TIMEOUT_S
        while any(p.is_alive() for p in self.workers) and time.monotonic() < deadline:
            self._drain_results()  # a worker cannot exit while its last result is unread
            time.sleep(0.02)
        for process in self.workers:
            _end_process(process)
        for channel in (self.tasks, self.results):
            channel.cancel_join_thread()
            channel.close()

    def _drain_results(self) -> None:
        try:
            while True:
                self.results.get_nowait()
        except (queue.Empty, OSError, EOFError):
            pass
