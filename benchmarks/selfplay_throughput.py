"""Self-play throughput of the trainer's pool path, before and after, in one run.

Both paths run what the trainer runs: self-play processes (one per usable
CPU), each with a tavrin_engine.SearchPool and its own copy of the same
network, and the parent turning every finished record into training
examples, as the generation loop does, until the last game's examples are in.

* before: the pool path as it was: fp32 torch on the full 90 input planes
  (the hands widened over the board), no evaluation cache, every forced
  action searched, and the parent replaying each record through te.Game;
* after: the trainer's defaults now: the hands as 84 entries, the pool's
  own examples (checked, not replayed), the evaluation cache,
  --skip-single-tile and --inference as TrainSettings has them.

With --changes, every change on its own, one after another, in between.
Ends with one line per board side:
  side D positions_per_s before=X after=Y ratio=Z evaluations_per_position=E cache_hit_rate=H
positions are training positions (examples) that reach the parent;
evaluations_per_position and cache_hit_rate are the after path's.

    python benchmarks/selfplay_throughput.py                   # sides 10 and 20
    python benchmarks/selfplay_throughput.py --sides 10 --changes
"""

from __future__ import annotations

import argparse
import dataclasses
import multiprocessing
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

import tavrin_engine as te
import torch

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "trainer"))

from tavrin_trainer.core.cpus import usable_cpu_count  # noqa: E402
from tavrin_trainer.core.run_folder.run_directory import save_checkpoint  # noqa: E402
from tavrin_trainer.learning.inference import resolve_backend  # noqa: E402
from tavrin_trainer.core.settings.train_settings import TrainSettings  # noqa: E402
from tavrin_trainer.learning.examples import examples_from_pool, examples_from_pool_record  # noqa: E402
from tavrin_trainer.learning.network import NetworkShape, TavrinNet  # noqa: E402
from tavrin_trainer.learning.inference import load_inference, load_inference_model  # noqa: E402
from tavrin_trainer.selfplay.pool_loop import play_pool  # noqa: E402


@dataclass(frozen=True)
class SelfPlayPath:
    """One way of running self-play."""

    name: str
    widened: bool  # network input: the full planes (before) or board planes and hands
    replay: bool  # the parent replays each record (before) or checks the pool's examples
    cache: int
    skip_single_tile: bool
    inference: str


def paths(changes: bool) -> list[SelfPlayPath]:
    defaults = TrainSettings()
    before = SelfPlayPath("before", True, True, 0, False, "fp32")
    after = SelfPlayPath("after", False, False, defaults.evaluation_cache, defaults.skip_single_tile,
                  resolve_backend(defaults.inference, "cpu"))
    if not changes:
        return [before, after]
    steps = [before,
             dataclasses.replace(before, name="+ pool examples, hands as a vector", widened=False, replay=False),
             ]
    steps.append(dataclasses.replace(steps[-1], name="+ evaluation cache", cache=after.cache))
    if after.skip_single_tile:
        steps.append(dataclasses.replace(steps[-1], name="+ forced actions skipped", skip_single_tile=True))
    if after.inference != "fp32":
        steps.append(dataclasses.replace(steps[-1], name=f"+ inference {after.inference}", inference=after.inference))
    return steps + [after]


def make_checkpoint(folder: Path, channels: int, blocks: int) -> Path:
    torch.manual_seed(0)
    shape = NetworkShape(channels, blocks, aux_heads=True, input_planes=te.EXTENDED_STATE_PLANES)
    model = TavrinNet(shape)
    # The zero-initialised heads would make every prior equal; random heads
    # give the search realistic, uneven trees.
    for head in (model.policy_head[-1], model.value_fc[-1]):
        torch.nn.init.normal_(head.weight, std=0.5)
    path = folder / "bench.pt"
    save_checkpoint(path, {"model": model.state_dict(), "shape": dataclasses.asdict(shape)})
    return path


def pool_process(checkpoint: str, search, path: SelfPlayPath, games: int, total: int, first: int, start,
                 records) -> None:
    torch.set_num_threads(1)
    if not path.widened:  # the trainer's own loop
        infer = load_inference(checkpoint, "cpu", path.inference, planes_last=False)
        start.wait()
        stats = play_pool(infer, search, total, first, games, records.put)
        records.put(("done", stats["evaluations"], stats["requests"], stats["cached"]))
        return
    # The loop as it was: the widened planes straight into the torch network.
    model = load_inference_model(checkpoint, "cpu")
    pool = te.SearchPool(search, games=games, total_games=total, first_game=first)
    start.wait()
    with torch.inference_mode():
        while not pool.done():
            pool.submit(*model(torch.from_numpy(pool.next_batch())))
            for record in pool.take_finished():
                records.put(record)
    records.put(("done", pool.evaluations, pool.requests, pool.answered_without_network))


def run_path(checkpoint: Path, search, path: SelfPlayPath, processes: int, games: int, total: int) -> dict[str, float]:
    ctx = multiprocessing.get_context("spawn")
    start, records = ctx.Event(), ctx.Queue()
    search = search.replace(evaluation_cache=path.cache, skip_single_tile=path.skip_single_tile)
    workers = [ctx.Process(target=pool_process, args=(str(checkpoint), search, path, games, total, i * total,
                                                       start, records)) for i in range(processes)]
    for worker in workers:
        worker.start()
    time.sleep(3.0)  # every process has loaded (and exported) its network
    started = time.perf_counter()
    start.set()
    done, positions, counts = 0, 0, [0, 0, 0]
    while done < processes:
        item = records.get()
        if isinstance(item, tuple):
            done += 1
            counts = [a + b for a, b in zip(counts, item[1:])]
            continue
        convert = examples_from_pool_record if path.replay else examples_from_pool
        positions += len(convert(item, search.dim, extended=True))
    seconds = time.perf_counter() - started
    for worker in workers:
        worker.join()
    evaluations, requests, cached = counts
    return {"positions_per_s": positions / seconds, "positions": positions, "seconds": seconds,
            "evaluations_per_position": evaluations / max(positions, 1), "cache_hit_rate": cached / max(requests, 1)}


def main() -> None:
    defaults = TrainSettings()
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sides", type=int, nargs="+", default=[defaults.dim, 20])
    parser.add_argument("--channels", type=int, default=defaults.channels)
    parser.add_argument("--blocks", type=int, default=defaults.blocks)
    parser.add_argument("--sims-per-move", type=int, default=defaults.sims_per_move)
    parser.add_argument("--processes", type=int, default=usable_cpu_count(), help="self-play processes")
    parser.add_argument("--pool-games", type=int, default=defaults.pool_games,
                        help="concurrent games per process (a quarter on side 20)")
    parser.add_argument("--games", type=int, default=96, help="games per process per side (a quarter on side 20)")
    parser.add_argument("--changes", action="store_true", help="also measure every change on its own")
    args = parser.parse_args()

    lines = []
    with tempfile.TemporaryDirectory() as folder:
        checkpoint = make_checkpoint(Path(folder), args.channels, args.blocks)
        for side in args.sides:
            search = defaults.search_settings(side, generation=1).replace(sims_per_move=args.sims_per_move)
            scale = 4 if side >= 16 else 1
            games, total = max(1, args.pool_games // scale), max(1, args.games // scale)
            results = {}
            for path in paths(args.changes):
                result = run_path(checkpoint, search, path, args.processes, min(games, total), total)
                results[path.name] = result
                print(f"side {side} {path.name}: {result['positions_per_s']:.0f} positions/s "
                      f"({result['positions']} in {result['seconds']:.1f} s), "
                      f"{result['evaluations_per_position']:.2f} evaluations per position, "
                      f"cache hit rate {result['cache_hit_rate']:.3f}", flush=True)
            before, after = results["before"], results["after"]
            lines.append(f"side {side} positions_per_s before={before['positions_per_s']:.0f} "
                         f"after={after['positions_per_s']:.0f} "
                         f"ratio={after['positions_per_s'] / before['positions_per_s']:.2f} "
                         f"evaluations_per_position={after['evaluations_per_position']:.2f} "
                         f"cache_hit_rate={after['cache_hit_rate']:.3f}")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
