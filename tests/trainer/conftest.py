import multiprocessing
import sys
from pathlib import Path

import pytest

# The trainer package runs from the source tree as well as installed.
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "trainer"))

# Test helpers of this folder (engine_marks, toy_engine, ...) import by name.
sys.path.insert(0, str(Path(__file__).resolve().parent))


@pytest.fixture(autouse=True)
def no_stray_processes():
    """Every test must leave no child process behind, failing or not."""
    yield
    leftovers = multiprocessing.active_children()
    for process in leftovers:
        process.kill()
    assert not leftovers, f"processes left running: {leftovers}"
