"""How a self-play process runs its network on the pool's batches, through
one of the backends of core.settings.inference_backends (fp32, bf16 or onnx, as
``resolve_backend`` gives it).

Every backend takes the pool's inputs (board planes and hand entries as numpy
bool arrays) and gives float32 CPU tensors that ``SelfPlayPool.submit`` reads.
"""

from __future__ import annotations

import io
import os
import warnings
from typing import Any, Callable

import numpy as np
import tavrin_engine as te

# torch and onnxruntime are imported where a network is built: this module
# is loaded with pool_loop, which the command lines import without needing them.

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
            hand_input = to_device(hands) if hands.shape[1] else None
            policy, values = model(to_device(board), hand_input, planes_last=planes_last)
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
