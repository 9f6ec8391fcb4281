"""Running a network: the one place that chooses how, loads it, exports it
and runs it. Self-play pools, the inference server, the Ray actors, network
players and the web app all come here and hold no backend code of their own.

The backends (``resolve_backend`` tells which one a request stands for):

* ``fp32``: the torch network as it is (batch normalisation folded where the
  caller loaded it for inference).
* ``bf16``: the same under torch's bfloat16 autocast. Fast only where the
  CPU has bfloat16 instructions (or on a GPU); on CPUs without them torch
  emulates it, many times slower than fp32.
* ``onnx``: the network exported to ONNX and run by ONNX Runtime, fp32; the
  same answers as fp32 up to rounding.
* ``auto``: ``onnx`` on the CPU when onnxruntime and onnx are installed,
  else ``bf16`` where the CPU has bfloat16 instructions, else ``fp32``;
  ``fp32`` on a GPU. (ONNX Runtime beat bf16 at the small batches a self-play
  process sends, on a CPU that has both.)

Every backend takes board planes and hand entries as numpy bool arrays (the
hands with no columns for a five-plane network) and gives float32 CPU
tensors of policy and value logits, which the pools read as they are.
"""

from __future__ import annotations

import io
import os
import warnings
from pathlib import Path
from typing import Any, Callable

import numpy as np
import tavrin_engine as te

from tavrin_trainer.core.run_folder.run_directory import load_model_weights, load_network_checkpoint
from tavrin_trainer.core.settings.limits import INFERENCE_BACKENDS

# torch, onnxruntime and the network module (which loads torch) are imported
# where a network is built or run: the command lines import this module and
# need none of them to parse their flags.

# CPU flags (as Linux names them) of instructions that compute in bfloat16;
# without one, torch emulates bf16 many times slower than fp32.
BF16_CPU_FLAGS = ("avx512_bf16", "amx_bf16")


def cpu_flags(cpuinfo: str = "/proc/cpuinfo") -> set[str]:
    """The CPU's feature flags as Linux lists them; empty where they cannot be read."""
    try:
        with open(cpuinfo, encoding="ascii", errors="replace") as file:
            for line in file:
                if line.startswith("flags"):
                    return set(line.split(":", 1)[1].split())
    except OSError:
        pass
    return set()


def cpu_has_bf16(cpuinfo: str = "/proc/cpuinfo") -> bool:
    """Whether this CPU computes in bfloat16 (False where it cannot be told)."""
    return not cpu_flags(cpuinfo).isdisjoint(BF16_CPU_FLAGS)


def onnx_available() -> bool:
    # Imported only to see whether they are installed: both are optional and
    # slow to load, and most processes that ask never run them.
    try:
        import onnx  # noqa: F401  (the exporter needs it)
        import onnxruntime  # noqa: F401
    except ImportError:
        return False
    return True


def resolve_train_precision(requested: str, device: str) -> str:
    """The precision training steps run in: ``auto`` is bf16 on a CPU that
    computes in bfloat16 (where training steps ran 1.6 to 2 times as fast and
    learned as well as fp32), else fp32."""
    if requested == "auto":
        return "bf16" if not device.startswith("cuda") and cpu_has_bf16() else "fp32"
    return requested


def resolve_backend(requested: str, device: str) -> str:
    """The backend ``requested`` stands for on ``device``; ValueError for
    one that cannot run there."""
    if requested not in INFERENCE_BACKENDS:
        raise ValueError(f"--inference must be one of {', '.join(INFERENCE_BACKENDS)}, got {requested!r}")
    on_gpu = device.startswith("cuda")
    if requested == "auto":
        if on_gpu:
            return "fp32"
        return "onnx" if onnx_available() else "bf16" if cpu_has_bf16() else "fp32"
    if requested == "onnx":
        if on_gpu:
            raise ValueError("--inference onnx runs on the CPU; use fp32 or bf16 with --device cuda")
        if not onnx_available():
            raise ValueError("--inference onnx needs onnx and onnxruntime: pip install onnx onnxruntime")
    return requested


Inference = Callable[[np.ndarray, np.ndarray], tuple[Any, Any]]


def usable_cores() -> int:
    """The cores this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):
        return max(1, os.cpu_count() or 1)


def limit_torch_threads(threads: int | None) -> None:
    """``threads`` torch compute threads (None: as many as now), never more
    than the usable cores: threads beyond the cores wait on each other at
    every call, many times slower once another process holds a core."""
    import torch

    wanted = max(1, min(threads or torch.get_num_threads(), usable_cores()))
    if torch.get_num_threads() != wanted:
        torch.set_num_threads(wanted)


def load_network(path: str | Path) -> tuple[Any, dict[str, Any]]:
    """The checkpoint's network (weights as trained, on the CPU) and the
    checkpoint itself; RunDirectoryError for a file that is not one."""
    from tavrin_trainer.learning.network import model_from_checkpoint

    checkpoint = load_network_checkpoint(path)
    return model_from_checkpoint(checkpoint), checkpoint


def load_inference_model(checkpoint: str | Path, device: str) -> Any:
    """The checkpoint's network folded for inference, on ``device``."""
    from tavrin_trainer.learning.network import inference_copy

    return inference_copy(load_network(checkpoint)[0]).to(device)


def load_inference(checkpoint: str | Path, device: str, backend: str, planes_last: bool) -> Inference:
    """The checkpoint's network behind ``backend``, as a self-play process runs it."""
    return make_inference(load_inference_model(checkpoint, device), backend, device, planes_last)


def load_server_model(checkpoint: str | Path, channels: int, blocks: int, device: str, threads: int) -> Any:
    """The inference server's network, from a checkpoint or bare weights of a
    known trunk, run by torch on ``threads`` threads."""
    import torch

    from tavrin_trainer.learning.network import model_from_weights

    torch.set_num_threads(threads)
    return model_from_weights(channels, blocks, load_model_weights(checkpoint)).eval().to(device)


def player_backend(requested: str, device: str, exportable: bool) -> str:
    """The backend a network player runs: ``auto`` is onnx where it is
    installed and the model can be exported (a TavrinNet on the CPU), else
    fp32; never bf16 unasked, whose coarser answers a player names."""
    if requested != "auto":
        return requested
    return "onnx" if exportable and not device.startswith("cuda") and onnx_available() else "fp32"


def make_player_inference(model: Any, backend: str, device: str, threads: int | None) -> Inference:
    """A network player's backend: fp32 runs the module as given (any module
    mapping planes to policy and value plays), the others a folded copy of a
    TavrinNet; ONNX Runtime on ``threads`` threads (default 1: a lone game's
    small batches run fastest on one), torch on as many as it has, never
    more than the usable cores."""
    limit_torch_threads(threads)
    if backend == "fp32":
        return make_inference(model, backend, device, planes_last=False)
    from tavrin_trainer.learning.network import inference_copy

    return make_inference(inference_copy(model).to(device), backend, device, planes_last=False, threads=threads or 1)


def make_inference(model: Any, backend: str, device: str, planes_last: bool,
                   threads: int | None = None) -> Inference:
    """A callable from one pool batch to (policy logits, value logits);
    ``backend`` as ``resolve_backend`` gives it. ``threads``: ONNX Runtime's
    compute threads (default torch's), never more than the usable cores."""
    if backend == "onnx":
        return _onnx_inference(model, planes_last, threads)
    return _torch_inference(model, device, planes_last, bf16=backend == "bf16")


def _torch_inference(model: Any, device: str, planes_last: bool, bf16: bool) -> Inference:
    import torch

    device_type = "cuda" if device.startswith("cuda") else "cpu"
    pinned = device_type == "cuda"

    def to_device(array: np.ndarray) -> Any:
        tensor = torch.from_numpy(array)
        if pinned:  # page-locked host memory lets the copy run alongside the GPU
            return tensor.pin_memory().to(device, non_blocking=True)
        return tensor

    def infer(board: np.ndarray, hands: np.ndarray) -> tuple[Any, Any]:
        with torch.inference_mode(), torch.autocast(device_type, dtype=torch.bfloat16, enabled=bf16):
            inputs = (to_device(board),) + ((to_device(hands),) if hands.shape[1] else ())
            # Planes first is every module's default; only a TavrinNet reads the other layout.
            policy, values = model(*inputs, planes_last=True) if planes_last else model(*inputs)
        return policy.float().cpu(), values.float().cpu()

    return infer


def export_onnx(model: Any, planes_last: bool) -> bytes:
    """The network as an ONNX graph for any batch size and board side."""
    import torch

    with_hands = model.shape.input_planes == te.EXTENDED_STATE_PLANES

    class Exported(torch.nn.Module):
        def __init__(self) -> None:
            super().__init__()
            self.model = model

        def forward(self, board: torch.Tensor, hands: torch.Tensor | None = None):
            return self.model(board, hands, planes_last=planes_last)

    side = te.MIN_SIDE + 4
    shape = (2, side, side, model.board_planes) if planes_last else (2, model.board_planes, side, side)
    inputs: tuple = (torch.zeros(shape, dtype=torch.bool),)
    axes: dict[str, dict[int, str]] = {"board": {0: "batch", 1 if planes_last else 2: "side",
                                                 2 if planes_last else 3: "side"},
                                       "policy": {0: "batch", 1: "cells"}, "value": {0: "batch"}}
    if with_hands:
        inputs += (torch.zeros((2, te.HAND_PLANES), dtype=torch.bool),)
        axes["hands"] = {0: "batch"}
    out = io.BytesIO()
    with warnings.catch_warnings():
        # Traced once for every size: the tracer's notes on the shape checks
        # and the exporter's deprecation notice say nothing here.
        warnings.simplefilter("ignore")
        torch.onnx.export(Exported().eval(), inputs, out, input_names=["board", "hands"][:len(inputs)],
                          output_names=["policy", "value"], dynamic_axes=axes, dynamo=False)
    return out.getvalue()


def _onnx_inference(model: Any, planes_last: bool, threads: int | None = None) -> Inference:
    import onnxruntime as ort
    import torch

    graph = export_onnx(model.cpu(), planes_last)
    options = ort.SessionOptions()
    options.intra_op_num_threads = max(1, min(threads or torch.get_num_threads(), usable_cores()))
    options.inter_op_num_threads = 1
    # Spinning threads wait for work by burning a core: beside a busy
    # process that turns every call into a wait for the scheduler.
    options.add_session_config_entry("session.intra_op.allow_spinning", "0")
    session = ort.InferenceSession(graph, options, providers=["CPUExecutionProvider"])
    with_hands = len(session.get_inputs()) == 2

    def infer(board: np.ndarray, hands: np.ndarray) -> tuple[Any, Any]:
        feeds = {"board": board, "hands": hands} if with_hands else {"board": board}
        policy, values = session.run(None, feeds)
        return torch.from_numpy(policy), torch.from_numpy(values)

    return infer
