"""Benchmark of the inference server's request handling.

Client processes stand in for the engine's workers: each keeps one request in
flight (put a position on the shared queue, wait for the reply on its pipe),
exactly as the engine does, so the numbers are the server's own throughput
with the network's cost included. Also times the parts of one batch in
process: turning the nested lists into a tensor, the forward pass, and turning
the logits back into lists.

    python benchmarks/server_bench.py                # default network, side 8
    python benchmarks/server_bench.py --dim 20 --clients 1 4 8 16
"""

from __future__ import annotations

import argparse
import multiprocessing
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "trainer"))

from tavrin_trainer.core.run_folder.run_directory import save_checkpoint  # noqa: E402
from tavrin_trainer.selfplay.server_engine.inference_server import ServerOptions  # noqa: E402
from tavrin_trainer.selfplay.server_engine.supervisor import ServerHandle  # noqa: E402

# torch, and the network module that loads it, only inside functions: every
# spawned client process imports this script and must start as light as the
# engine's workers it stands in for.


def client(worker_id: int, requests, reply_end, position: list, count: int, done) -> None:
    for _ in range(count):
        requests.put((worker_id, position))
        reply_end.recv()
    done.put(worker_id)


def example_position(dim: int, rep: int) -> list:
    planes = np.random.default_rng(0).random((5, dim, dim)) < 0.3
    return (planes if rep == 1 else planes.transpose(1, 2, 0)).tolist()


def bench_server(checkpoint: str, args: argparse.Namespace, clients: int) -> dict:
    ctx = multiprocessing.get_context("spawn")
    options = ServerOptions(channels=args.channels, blocks=args.blocks, rep=args.rep, batch_size=clients,
                            wait_s=args.wait_ms / 1000, threads=args.threads)
    server = ServerHandle(ctx, "bench", options, checkpoint, clients)
    done = ctx.Queue()
    position = example_position(args.dim, args.rep)
    per_client = max(1, args.requests // clients)
    processes = [ctx.Process(target=client, args=(i, server.requests, server.reply_ends[i], position, per_client, done))
                 for i in range(clients)]
    server.start()
    try:
        server.wait_ready()
        for process in processes:
            process.start()
        server.take_stats()
        started = time.perf_counter()
        for _ in processes:
            done.get()
        seconds = time.perf_counter() - started
        stats = server.take_stats()
    finally:
        server.stop()
        for process in processes:
            process.join(5)
            if process.is_alive():
                process.terminate()
    return {"clients": clients, "requests_per_s": stats["requests"] / seconds, "mean_batch": stats["mean_batch"],
            "latency_ms": 1000 * seconds / per_client, "busy": stats["network_s"] / seconds}


def bench_batch_parts(args: argparse.Namespace, batch: int, repeats: int = 50) -> dict:
    import torch

    from tavrin_trainer.learning.network import NetworkShape, TavrinNet

    torch.set_num_threads(args.threads)
    model = TavrinNet(NetworkShape(args.channels, args.blocks)).eval()
    positions = [example_position(args.dim, args.rep) for _ in range(batch)]
    timings = {"convert": 0.0, "forward": 0.0, "to_lists": 0.0}
    for _ in range(repeats):
        t0 = time.perf_counter()
        tensor = torch.from_numpy(np.array(positions, dtype=np.bool_))
        t1 = time.perf_counter()
        with torch.inference_mode():
            policy, value = model(tensor, planes_last=args.rep == 2)
        t2 = time.perf_counter()
        policy.tolist(), value.tolist()
        t3 = time.perf_counter()
        timings["convert"] += t1 - t0
        timings["forward"] += t2 - t1
        timings["to_lists"] += t3 - t2
    return {name: 1e6 * total / repeats / batch for name, total in timings.items()}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dim", type=int, default=8, help="Board side of the positions (default: 8).")
    parser.add_argument("--rep", type=int, choices=(1, 2), default=1, help="Input layout (default: 1).")
    parser.add_argument("--channels", type=int, default=32, help="Network channels (default: 32).")
    parser.add_argument("--blocks", type=int, default=2, help="Residual blocks (default: 2).")
    parser.add_argument("--threads", type=int, default=1, help="PyTorch threads of the server (default: 1).")
    parser.add_argument("--wait-ms", type=float, default=1.0, help="Batch wait bound (default: 1 ms).")
    parser.add_argument("--clients", type=int, nargs="+", default=[1, 4, 8, 16],
                        help="Client counts to try (default: 1 4 8 16).")
    parser.add_argument("--requests", type=int, default=8000, help="Requests per measurement (default: 8000).")
    args = parser.parse_args()

    from tavrin_trainer.learning.network import NetworkShape, TavrinNet

    print(f"side {args.dim}, rep {args.rep}, network {args.channels}x{args.blocks}, "
          f"{args.threads} server thread(s), wait {args.wait_ms} ms")
    print("\nper position within one batch (microseconds):")
    print(f"{'batch':>6} {'convert':>9} {'forward':>9} {'to_lists':>9}")
    for batch in sorted({1, *args.clients}):
        parts = bench_batch_parts(args, batch)
        print(f"{batch:>6} {parts['convert']:>9.1f} {parts['forward']:>9.1f} {parts['to_lists']:>9.1f}")

    with tempfile.TemporaryDirectory() as scratch:
        checkpoint = Path(scratch) / "bench.pt"
        save_checkpoint(checkpoint, {"model": TavrinNet(NetworkShape(args.channels, args.blocks)).state_dict()})
        print("\nserver with clients keeping one request in flight each:")
        print(f"{'clients':>7} {'requests/s':>11} {'mean batch':>11} {'latency ms':>11} {'busy':>6}")
        for clients in args.clients:
            r = bench_server(str(checkpoint), args, clients)
            print(f"{r['clients']:>7} {r['requests_per_s']:>11.0f} {r['mean_batch']:>11.2f} "
                  f"{r['latency_ms']:>11.3f} {r['busy']:>6.0%}")


if __name__ == "__main__":
    main()
