"""Which engines the trainer tests can use (a module of its own: every test
folder has a conftest.py, so importing from "conftest" is ambiguous)."""

import importlib.util

import pytest

HAVE_ENGINE = all(importlib.util.find_spec(m) is not None for m in ("tavrin_self_play", "tavrin_engine"))
needs_engine = pytest.mark.skipif(not HAVE_ENGINE, reason="the engine modules are not installed (pip install .)")

# The test double for the process plumbing, and the real engine where it is installed.
ENGINES = ["toy_engine", pytest.param("tavrin_self_play", marks=needs_engine)]
