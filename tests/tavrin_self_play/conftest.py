import os
import sys

# Lets CTest (or a developer) run the suite against a freshly built module
# instead of the installed one.
_module_dir = os.environ.get("TAVRIN_SELF_PLAY_DIR")
if _module_dir:
    sys.path.insert(0, _module_dir)
