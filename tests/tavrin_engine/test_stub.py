import os
import subprocess
import sys
from pathlib import Path

import pytest
import tavrin_engine


def test_the_shipped_stub_matches_the_module(tmp_path):
    pytest.importorskip("nanobind.stubgen")
    out = tmp_path / "tavrin_engine.pyi"
    module_dir = str(Path(tavrin_engine.__file__).parent)
    subprocess.run([sys.executable, "-m", "nanobind.stubgen", "-q", "-m", "tavrin_engine", "-o", str(out)],
                   check=True, env={**os.environ, "PYTHONPATH": module_dir})
    shipped = Path(__file__).parents[2] / "bindings" / "tavrin_engine.pyi"
    assert out.read_text() == shipped.read_text(), (
        "bindings/tavrin_engine.pyi is stale: regenerate it with python -m nanobind.stubgen -m tavrin_engine")
