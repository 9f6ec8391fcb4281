"""The trainer's subpackages import only downward, so each layer can be read
(and tested) without the ones above it."""

import ast
from pathlib import Path

import tavrin_trainer

PACKAGE = Path(tavrin_trainer.__file__).parent
# Lowest first; a module may import its own layer and the ones before it.
LAYERS = ["core", "learning", "evaluation", "selfplay", "generation_loop", "ray_backend", "play", "cli"]


def layer_of(module: str) -> int | None:
    parts = module.split(".")
    if parts[0] != "tavrin_trainer" or len(parts) < 2:
        return None
    return LAYERS.index(parts[1]) if parts[1] in LAYERS else None


def test_no_module_imports_a_layer_above_its_own():
    upward = []
    for path in PACKAGE.rglob("*.py"):
        module = ".".join(("tavrin_trainer",) + path.relative_to(PACKAGE).with_suffix("").parts)
        own = layer_of(module)
        for node in ast.walk(ast.parse(path.read_text())):
            if isinstance(node, ast.ImportFrom):
                assert node.level == 0, f"{module}: relative import; write the layer out"
                targets = [node.module or ""]
            elif isinstance(node, ast.Import):
                targets = [alias.name for alias in node.names]
            else:
                continue
            for target in targets:
                layer = layer_of(target)
                if layer is not None and (own is None or layer > own):
                    upward.append(f"{module} imports {target}")
    assert not upward, "\n".join(upward)
    top_level = sorted(p.name for p in PACKAGE.glob("*.py"))
    assert len(top_level) <= 8, top_level
