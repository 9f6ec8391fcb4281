"""The two ways the trainer plays its self-play games.

* ``PoolSelfPlay`` (the default): batched pools, each with its own copy of
  the network, in local processes (pool_processes) or Ray actors.
* ``ModuleSelfPlay``: the tavrin_self_play module in game worker processes,
  one request in flight each, fed by an inference server over a queue and
  pipes (server_engine), for users who bring their own server and for comparison.

Both take the checkpoint of the generation to play with, and yield the
records of the games as they finish; ``stats`` then gives the throughput
columns of the metrics.
"""

from __future__ import annotations

from pathlib import Path
from typing import Any, Iterator

import tavrin_engine as te

from tavrin_trainer.learning.examples import Examples, examples_from_pool, examples_from_record
from tavrin_trainer.core.cpus import usable_cpu_count
from tavrin_trainer.learning.inference import resolve_backend
from tavrin_trainer.core.settings.train_settings import TrainSettings
from tavrin_trainer.selfplay.interface import SelfPlayWorkers
from tavrin_trainer.selfplay.pool_processes import PoolWorkerOptions, PoolWorkers
from tavrin_trainer.selfplay.server_engine.game_worker import SELF_PLAY
from tavrin_trainer.selfplay.server_engine.inference_server import ServerOptions
from tavrin_trainer.selfplay.server_engine.supervisor import Cluster, ClusterOptions


def resolve_device(requested: str) -> str:
    """'auto' takes a GPU when torch sees one."""
    # torch when a device is resolved, not when a command line imports this
    # module: --help and a bad flag answer without loading it.
    import torch

    if requested == "auto":
        return "cuda" if torch.cuda.is_available() else "cpu"
    if requested == "cuda" and not torch.cuda.is_available():
        raise ValueError("--device cuda: torch sees no CUDA device")
    return requested


def pool_worker_options(settings: TrainSettings, device: str, processes: int | None = None,
                        search_threads: int | None = None):
    """What each self-play process is. On the CPU, ``processes`` defaults
    to one per CPU this process may use; on a GPU, to one process holding the
    network whose games are searched by one thread per usable CPU
    (``search_threads``), all feeding one batch."""
    on_gpu = device.startswith("cuda")
    if processes is None:
        processes = settings.selfplay_processes or (1 if on_gpu else usable_cpu_count())
    if search_threads is None:
        search_threads = max(1, usable_cpu_count() // processes) if on_gpu else 1
    concurrent = settings.games_per_generation if on_gpu else settings.pool_games
    return PoolWorkerOptions(processes=processes, concurrent_games=concurrent, device=device,
                             inference=resolve_backend(settings.inference, device), search_threads=search_threads)


class PoolSelfPlay:
    """Batched pools over any ``SelfPlayWorkers``: local processes
    (``local``) or Ray actors."""

    def __init__(self, workers: SelfPlayWorkers, extended_planes: bool) -> None:
        self.workers = workers
        self.extended_planes = extended_planes

    @classmethod
    def local(cls, settings: TrainSettings, device: str) -> "PoolSelfPlay":
        return cls(PoolWorkers(pool_worker_options(settings, device)), settings.extended_planes)

    def __enter__(self) -> "PoolSelfPlay":
        self.workers.__enter__()
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.workers.__exit__(*exc_info)

    def play(self, checkpoint: Path, search: te.SearchSettings, games: int) -> Iterator[Any]:
        return self.workers.play(checkpoint, search, games)

    def examples(self, record: Any, dim: int) -> Examples:
        """The positions the pool recorded, checked; the game is not replayed."""
        return examples_from_pool(record, dim, self.extended_planes)

    @staticmethod
    def moves_and_payoffs(record: Any) -> tuple[Any, Any]:
        return record["moves"], record["payoffs"]

    def stats(self, seconds: float) -> dict[str, Any]:
        s = self.workers.stats
        return {"evaluations": s.evaluations, "evaluations_per_s": s.evaluations / seconds,
                "evaluations_per_position": s.evaluations / max(s.positions, 1),
                "cache_hit_rate": s.cached / max(s.requests, 1),
                "mean_batch": s.evaluations / max(s.batches, 1),
                "network_busy_fraction": s.network_s / s.process_s if s.process_s else 0.0,
                "replaced_processes": s.replaced}


class ModuleSelfPlay:
    def __init__(self, settings: TrainSettings, log_dir: Path, engine_module: str, checkpoint: Path,
                 device: str = "cpu") -> None:
        server = ServerOptions(channels=settings.channels, blocks=settings.blocks, rep=settings.rep,
                               batch_size=settings.effective_batch_size, wait_s=settings.batch_wait_ms / 1000,
                               threads=settings.server_threads, device=device)
        options = ClusterOptions(workers=settings.workers, server=server, log_dir=log_dir,
                                 engine_module=engine_module)
        self.cluster = Cluster(options, {"model": checkpoint})
        self.loaded = checkpoint

    def __enter__(self) -> "ModuleSelfPlay":
        self.cluster.__enter__()
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.cluster.__exit__(*exc_info)

    def play(self, checkpoint: Path, search: te.SearchSettings, games: int) -> Iterator[Any]:
        """The module reads the first seven fields of ``search``; it draws its own random numbers."""
        server = self.cluster.servers["model"]
        if checkpoint != self.loaded:
            server.load(checkpoint)
            self.loaded = checkpoint
        server.take_stats()  # start the throughput counters afresh
        for result in self.cluster.run(SELF_PLAY, [search] * games):
            yield result.payload

    @staticmethod
    def examples(record: Any, dim: int) -> Examples:
        return examples_from_record(record, dim)

    @staticmethod
    def moves_and_payoffs(record: Any) -> tuple[Any, Any]:
        moves, _, payoffs = record
        return moves, payoffs

    def stats(self, seconds: float) -> dict[str, Any]:
        s = self.cluster.servers["model"].take_stats()
        return {"evaluations": s["requests"], "evaluations_per_s": s["requests"] / seconds,
                "mean_batch": s["mean_batch"], "network_busy_fraction": s["network_s"] / seconds,
                "replaced_processes": 0}
