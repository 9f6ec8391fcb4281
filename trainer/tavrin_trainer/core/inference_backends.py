"""How self-play and network players may run the network, and which way a
request stands for on a device (learning.inference runs it):

* ``fp32``: the torch network as it is (batch normalisation folded).
* ``bf16``: the same under torch's bfloat16 autocast. Fast only where the
  CPU has bfloat16 instructions (or on a GPU); on CPUs without them torch
  emulates it, many times slower than fp32.
* ``onnx``: the network exported to ONNX and run by ONNX Runtime, fp32, one
  thread per process; the same answers as fp32 up to rounding.
* ``auto``: ``onnx`` on the CPU when onnxruntime and onnx are installed,
  else ``fp32``; ``fp32`` on a GPU.
"""

from __future__ import annotations

INFERENCE_BACKENDS = ("auto", "fp32", "bf16", "onnx")


def onnx_available() -> bool:
    # Imported only to see whether they are installed: both are optional and
    # slow to load, and most processes that ask never run them.
    try:
        import onnx  # noqa: F401  (the exporter needs it)
        import onnxruntime  # noqa: F401
    except ImportError:
        return False
    return True


def resolve_backend(requested: str, device: str) -> str:
    """The backend ``requested`` stands for on ``device``; ValueError for
    one that cannot run there."""
    if requested not in INFERENCE_BACKENDS:
        raise ValueError(f"--inference must be one of {', '.join(INFERENCE_BACKENDS)}, got {requested!r}")
    on_gpu = device.startswith("cuda")
    if requested == "auto":
        return "onnx" if not on_gpu and onnx_available() else "fp32"
    if requested == "onnx":
        if on_gpu:
            raise ValueError("--inference onnx runs on the CPU; use fp32 or bf16 with --device cuda")
        if not onnx_available():
            raise ValueError("--inference onnx needs onnx and onnxruntime: pip install onnx onnxruntime")
    return requested
