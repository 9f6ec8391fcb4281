import importlib.util
import multiprocessing
import sys
from pathlib import Path

import pytest

# The trainer package runs from the source tree as well as installed.
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "trainer"))

HAVE_ENGINE = all(importlib.util.find_spec(m) is not None for m in ("tavrin_self_play", "tavrin_engine"))
needs_engine = pytest.mark.skipif(not HAVE_ENGINE, reason="the engine modules are not installed (pip install .)")

# The test double for the process plumbing, and the real engine where it is installed.
ENGINES = ["toy_engine", pytest.param("tavrin_self_play", marks=needs_engine)]


@pytest.fixture(autouse=True)
def no_stray_processes():
    """Every test must leave no child process behind, failing or not."""
    yield
    leftovers = multiprocessing.active_children()
    for process in leftovers:
        process.kill()
    assert not leftovers, f"processes left running: {leftovers}"
