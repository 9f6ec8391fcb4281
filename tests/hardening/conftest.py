import faulthandler
import os
import pathlib
import sys

import pytest

# Runs against a freshly built (for instance sanitized) module when asked,
# and shares the module suite's fakes.
_module_dir = os.environ.get("TAVRIN_SELF_PLAY_DIR")
if _module_dir:
    sys.path.insert(0, _module_dir)
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tavrin_self_play"))

# No test here may hang: a test still running after this long dumps every
# thread's stack and ends the run.
HANG_LIMIT_SECONDS = 300


@pytest.fixture(autouse=True)
def fail_on_hang():
    faulthandler.dump_traceback_later(HANG_LIMIT_SECONDS, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()
