import pytest

te = pytest.importorskip("tavrin_engine", reason="tavrin_engine is not installed (pip install .)")
