#!/usr/bin/env bash
# The CUDA paths, checked on a machine with a GPU and no internet, in under
# eight minutes: builds the package, then self-play on side 20 on the GPU
# beside the CPU (the same two-generation run on each), and the module engine
# with its inference server on the GPU. Prints, for each: positions/s,
# network evaluations/s, the mean batch, and the GPU's busy share sampled with
# nvidia-smi while it ran.
#
# Needs: CUDA PyTorch, nanobind, scikit-build-core, CMake, Ninja and the
# trainer's other wheels installed (numpy, matplotlib, tqdm, openskill; onnx
# and onnxruntime optional). Nothing is downloaded: pip runs with
# --no-index --no-build-isolation.
#
#     bash scripts/gpu_check.sh [OUT_DIR]     # default OUT_DIR: /tmp/tavrin-gpu-check
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-/tmp/tavrin-gpu-check}"
mkdir -p "$out"

python3 -c "import torch; assert torch.cuda.is_available(), 'no CUDA device'; print('GPU:', torch.cuda.get_device_name(0), '| torch', torch.__version__)"
echo "== build"
python3 -m pip install -q --no-index --no-build-isolation --no-deps . 2>&1 | tail -3

sample_gpu() {  # samples utilisation every 0.5 s into $1 until killed
  while true; do nvidia-smi --query-gpu=utilization.gpu --format=csv,noheader,nounits >>"$1" 2>/dev/null || true; sleep 0.5; done
}

# One two-generation side-20 run; its metrics line and the GPU's busy share.
measure() {
  local name="$1"; shift
  local samples="$out/$name.gpu"; : >"$samples"
  sample_gpu "$samples" & local sampler=$!
  local started=$SECONDS
  timeout 200 tavrin-train --dim 20 --generations 2 --time-limit-minutes 0 --games-per-generation 64 \
    --warm-start-games 0 --eval-random-games 0 --eval-greedy-games 0 --seed 1 --run-dir "$out/$name" "$@" \
    >"$out/$name.log" 2>&1 || echo "  (exit $? after $((SECONDS - started)) s: see $out/$name.log)"
  kill "$sampler" 2>/dev/null || true
  python3 - "$out/$name" "$samples" "$name" <<'PY'
import csv, sys
run, samples, name = sys.argv[1:]
try:
    rows = list(csv.DictReader(open(f"{run}/metrics.csv")))
except OSError:
    rows = []
busy = [float(x) for x in open(samples).read().split() if x.strip()]
share = f"{sum(busy) / len(busy):.0f}% busy over {len(busy)} samples" if busy else "no samples"
row = rows[-1] if rows else {}
get = lambda key: float(row.get(key) or "nan")
print(f"{name:14s} positions/s {get('positions_per_s'):8.1f}  evaluations/s {get('evaluations_per_s'):9.1f}  "
      f"mean batch {get('mean_batch'):6.1f}  train {get('train_s'):6.1f} s  GPU {share}")
PY
}

echo "== side 20, two generations each (pool engine unless named)"
measure cpu-pool --device cpu
measure cuda-pool --device cuda
measure cuda-mixed-bf16 --device cuda --playouts 1 --train-precision bf16
measure cuda-module --device cuda --engine module --extended-planes false --workers 16
echo "logs and runs in $out"
