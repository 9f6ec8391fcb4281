"""How self-play and network players may run the network, and which way a
request stands for on a device (learning.inference runs it); and which
precision training runs in (resolve_train_precision):

* ``fp32``: the torch network as it is (batch normalisation folded).
* ``bf16``: the same under torch's bfloat16 autocast. Fast only where the
  CPU has bfloat16 instructions (or on a GPU); on CPUs without them torch
  emulates it, many times slower than fp32.
* ``onnx``: the network exported to ONNX and run by ONNX Runtime, fp32, one
  thread per process; the same answers as fp32 up to rounding.
* ``auto``: ``onnx`` on the CPU when onnxruntime and onnx are installed,
  else ``bf16`` where the CPU has bfloat16 instructions, else ``fp32``;
  ``fp32`` on a GPU. (ONNX Runtime beat bf16 at the small batches a self-play
  process sends, on a CPU that has both.)
"""

from __future__ import annotations

INFERENCE_BACKENDS = ("auto", "fp32", "bf16", "onnx")

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
