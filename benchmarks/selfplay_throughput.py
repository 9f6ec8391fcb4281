"""Self-play throughput two ways, same network and settings.

* module: the trainer's cluster, game worker processes calling
  tavrin_self_play with one request in flight each, and one inference server
  fed through a queue and pipes;
* pool: one process per core, each hosting a tavrin_engine.SelfPlayPool and
  its own copy of the network (one torch thread), one batch per round.

Ends with one line per board side:
  side D positions_per_s module=X pool=Y ratio=Z network_busy=W
network_busy is the share of the pool processes' wall time spent in the
network's forward pass.

    python benchmarks/selfplay_throughput.py                 # sides 8 and 20
    python benchmarks/selfplay_throughput.py --sides 8 --module-games 48
"""

from __future__ import annotations

import argparse
import dataclasses
import multiprocessing
import os
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "trainer"))


def make_checkpoint(folder: Path, channels: int, blocks: int) -> Path:
    import torch

    from tavrin_trainer.run.directory import save_checkpoint
    from tavrin_trainer.learning.network import NetworkShape, TavrinNet

    torch.manual_seed(0)
    model = TavrinNet(NetworkShape(channels, blocks))
    # The zero-initialised heads would make every prior equal; random heads
    # give the search realistic, uneven trees.
    for head in (model.policy_head[-1], model.value_fc[-1]):
        torch.nn.init.normal_(head.weight, std=0.5)
    path = folder / "bench.pt"
    save_checkpoint(path, {"model": model.state_dict(), "shape": {"channels": channels, "blocks": blocks}})
    return path


def module_run(checkpoint: Path, config, args: argparse.Namespace, log_dir: Path) -> float:
    from tavrin_trainer.selfplay.module_engine.supervisor import Cluster, ClusterOptions
    from tavrin_trainer.selfplay.module_engine.inference_server import ServerOptions
    from tavrin_trainer.selfplay.module_engine.game_worker import SELF_PLAY

    server = ServerOptions(channels=args.channels, blocks=args.blocks, rep=1, batch_size=args.workers,
                           wait_s=0.001, threads=1)
    options = ClusterOptions(workers=args.workers, server=server, log_dir=log_dir)
    with Cluster(options, {"model": checkpoint}) as cluster:
        started = time.perf_counter()
        positions = sum(len(result.payload[0]) for result in cluster.run(SELF_PLAY, [config] * args.module_games))
        return positions / (time.perf_counter() - started)


def pool_process(checkpoint: str, config, games: int, total: int, start, results) -> None:
    import torch

    import tavrin_engine as te
    from tavrin_trainer.run.directory import load_checkpoint
    from tavrin_trainer.learning.network import inference_copy, model_from_checkpoint

    torch.set_num_threads(1)
    model = inference_copy(model_from_checkpoint(load_checkpoint(checkpoint)))  # as the trainer's self-play processes run it
    pool = te.SelfPlayPool(config, games=games, total_games=total)
    start.wait()
    started = time.perf_counter()
    network_s = 0.0
    positions = 0
    with torch.inference_mode():
        while not pool.done():
            planes = torch.from_numpy(pool.next_batch())
            before = time.perf_counter()
            policy, values = model(planes)
            network_s += time.perf_counter() - before
            pool.submit(policy, values)
            positions += sum(len(record["moves"]) for record in pool.take_finished())
    results.put((positions, time.perf_counter() - started, network_s))


def pool_run(checkpoint: Path, config, args: argparse.Namespace) -> tuple[float, float]:
    ctx = multiprocessing.get_context("spawn")
    start, results = ctx.Event(), ctx.Queue()
    processes = [ctx.Process(target=pool_process, args=(str(checkpoint), config, args.pool_games,
                                                         args.pool_total, start, results))
                 for _ in range(args.processes)]
    for process in processes:
        process.start()
    time.sleep(0.5)
    start.set()
    outcomes = [results.get() for _ in processes]
    for process in processes:
        process.join()
    wall = max(seconds for _, seconds, _ in outcomes)
    busy = sum(network for _, _, network in outcomes) / sum(seconds for _, seconds, _ in outcomes)
    return sum(positions for positions, _, _ in outcomes) / wall, busy


def main() -> None:
    from tavrin_trainer.run.settings import TrainSettings

    defaults = TrainSettings()
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sides", type=int, nargs="+", default=[defaults.dim, 20])
    parser.add_argument("--channels", type=int, default=defaults.channels)
    parser.add_argument("--blocks", type=int, default=defaults.blocks)
    parser.add_argument("--sims-per-move", type=int, default=defaults.sims_per_move)
    parser.add_argument("--workers", type=int, default=defaults.workers, help="module: game worker processes")
    parser.add_argument("--module-games", type=int, default=48, help="module: games per side (a quarter on side 20)")
    parser.add_argument("--processes", type=int, default=os.cpu_count() or 1, help="pool: processes")
    parser.add_argument("--pool-games", type=int, default=64, help="pool: concurrent games per process")
    parser.add_argument("--pool-total", type=int, default=128,
                        help="pool: games per process per side (a quarter on side 20)")
    args = parser.parse_args()

    lines = []
    with tempfile.TemporaryDirectory() as folder:
        checkpoint = make_checkpoint(Path(folder), args.channels, args.blocks)
        for side in args.sides:
            config = dataclasses.replace(defaults.search_settings(side), sims_per_move=args.sims_per_move,
                                         extended_planes=False)  # the module sends five planes
            scale = 4 if side >= 16 else 1
            side_args = argparse.Namespace(**{**vars(args), "module_games": max(args.workers, args.module_games // scale),
                                              "pool_total": max(args.pool_games // scale, args.pool_total // scale),
                                              "pool_games": max(1, args.pool_games // scale)})
            module = module_run(checkpoint, config, side_args, Path(folder) / "logs")
            pool, busy = pool_run(checkpoint, config, side_args)
            line = (f"side {side} positions_per_s module={module:.0f} pool={pool:.0f} ratio={pool / module:.2f} "
                    f"network_busy={busy:.2f}")
            print(line, flush=True)
            lines.append(line)
    print("\n".join(lines))


if __name__ == "__main__":
    main()
