"""The network's two costs on this CPU, each way of running it side by side in one run.

* inference: rows per second of a self-play batch (side 20, the shipped
  network's shape, one torch thread as a self-play process has) through
  fp32 torch, bf16 autocast, channels-last fp32 and ONNX Runtime;
* training: Adam steps of 256 side-20 positions through the trainer's own
  losses (batch_losses), fp32, bf16 autocast, channels-last and
  torch.compile, with every core.

Random positions with legal-looking planes stand in for the replay buffer:
the arithmetic is the same. Prints whether the CPU has bfloat16 instructions.

    python benchmarks/network_speed.py [--side 20] [--steps 20] [--no-compile]
"""

from __future__ import annotations

import argparse
import sys
import time
from contextlib import nullcontext
from pathlib import Path

import numpy as np
import tavrin_engine as te
import torch

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "trainer"))

from tavrin_trainer.core.cpus import usable_cpu_count  # noqa: E402
from tavrin_trainer.learning.inference import cpu_flags, onnx_available  # noqa: E402
from tavrin_trainer.evaluation.players import NetworkPlayer  # noqa: E402
from tavrin_trainer.learning.examples import Examples  # noqa: E402
from tavrin_trainer.learning.inference import make_inference  # noqa: E402
from tavrin_trainer.learning.network import TavrinNet, inference_copy  # noqa: E402
from tavrin_trainer.learning.optimisation import batch_losses  # noqa: E402


def random_examples(count: int, side: int, rng: np.random.Generator):
    planes = rng.random((count, te.EXTENDED_BOARD_PLANES, side, side)) < 0.2
    policy = rng.random((count, side * side)).astype(np.float32) * planes[:, 4].reshape(count, -1)
    policy /= np.maximum(policy.sum(axis=1, keepdims=True), 1e-6)
    value = rng.dirichlet(np.ones(4), count).astype(np.float32)
    owners = rng.integers(0, 5, (count, side, side)).astype(np.int8)
    score = rng.normal(size=(count, 4)).astype(np.float32)
    hands = rng.random((count, te.HAND_PLANES)) < 0.5
    return Examples(planes=planes, policy=policy, value=value, owners=owners, score=score, hands=hands)


def inference_rates(model, side: int, batch: int, seconds: float = 3.0) -> dict[str, float]:
    torch.set_num_threads(1)
    rng = np.random.default_rng(0)
    board = rng.random((batch, 6, side, side)) < 0.2
    hands = rng.random((batch, 84)) < 0.5
    folded = inference_copy(model)
    ways = {"fp32": make_inference(folded, "fp32", "cpu", planes_last=False),
            "bf16": make_inference(folded, "bf16", "cpu", planes_last=False)}
    last = inference_copy(model).to(memory_format=torch.channels_last)

    def channels_last(b, h):
        with torch.inference_mode():
            return last(torch.from_numpy(b).float().contiguous(memory_format=torch.channels_last),
                        torch.from_numpy(h).float())

    ways["fp32 channels-last"] = channels_last
    if onnx_available():
        ways["onnx"] = make_inference(folded, "onnx", "cpu", planes_last=False)
    rates = {}
    for name, infer in ways.items():
        infer(board, hands)  # warm
        rows, started = 0, time.perf_counter()
        while time.perf_counter() - started < seconds:
            infer(board, hands)
            rows += batch
        rates[name] = rows / (time.perf_counter() - started)
    return rates


def training_rates(shape, side: int, steps: int, compile_too: bool) -> dict[str, float]:
    torch.set_num_threads(usable_cpu_count())  # the trainer trains on every core
    rng = np.random.default_rng(1)
    batches = [random_examples(256, side, rng) for _ in range(4)]
    results = {}
    ways = [("fp32", False, False, False), ("bf16 autocast", True, False, False),
            ("fp32 channels-last", False, True, False)]
    if compile_too:
        ways.append(("fp32 torch.compile", False, False, True))
    for name, bf16, last, compiled in ways:
        torch.manual_seed(0)
        model = TavrinNet(shape)
        if last:
            model = model.to(memory_format=torch.channels_last)
        trained = torch.compile(model) if compiled else model
        optimizer = torch.optim.Adam(model.parameters(), lr=1e-3)
        model.train()

        def step(batch):
            with torch.autocast("cpu", dtype=torch.bfloat16) if bf16 else nullcontext():
                losses = batch_losses(trained, batch)
            total = sum(losses.values())
            optimizer.zero_grad(set_to_none=True)
            total.backward()
            optimizer.step()
            return float(total.detach())

        for batch in batches[:2]:
            step(batch)  # warm (and compile)
        started = time.perf_counter()
        for k in range(steps):
            step(batches[k % len(batches)])
        results[name] = steps / (time.perf_counter() - started)
    return results


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--side", type=int, default=20)
    parser.add_argument("--steps", type=int, default=20, help="training steps per way")
    parser.add_argument("--batches", type=int, nargs="+", default=[16, 64], help="inference batch sizes")
    parser.add_argument("--no-compile", action="store_true", help="leave torch.compile out (its compile is slow)")
    args = parser.parse_args()

    flags = cpu_flags()
    print(f"torch {torch.__version__}; CPU bfloat16: avx512_bf16 {'avx512_bf16' in flags}, "
          f"amx_bf16 {'amx_bf16' in flags}")
    model = NetworkPlayer.pretrained(0).model
    for batch in args.batches:
        rates = inference_rates(model, args.side, batch)
        base = rates["fp32"]
        print(f"inference, batch {batch}: " + ", ".join(f"{name} {rate:.0f} rows/s ({rate / base:.2f}x)"
                                                         for name, rate in rates.items()))
    rates = training_rates(model.shape, args.side, args.steps, not args.no_compile)
    base = rates["fp32"]
    print(f"training, 256 positions a step, {torch.get_num_threads()} threads: "
          + ", ".join(f"{name} {rate:.2f} steps/s ({rate / base:.2f}x)" for name, rate in rates.items()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
