"""The trainer's subpackages import only downward, so each layer can be read
(and tested) without the ones above it."""

import ast
import graphlib
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


def module_names() -> dict[str, Path]:
    """Every module of the package by dotted name (a package by its own)."""
    names = {}
    for path in PACKAGE.rglob("*.py"):
        parts = ("tavrin_trainer",) + path.relative_to(PACKAGE).with_suffix("").parts
        names[".".join(parts[:-1] if parts[-1] == "__init__" else parts)] = path
    return names


def imported_modules(path: Path, known: set[str]) -> set[str]:
    """The package's modules that ``path`` imports anywhere in it (inside
    functions and type-checking blocks too: a circle there is one to read)."""
    found = set()
    for node in ast.walk(ast.parse(path.read_text())):
        if isinstance(node, ast.ImportFrom) and node.module:
            # ``from package import module`` names a module; ``from module import name`` does not.
            candidates = [f"{node.module}.{alias.name}" for alias in node.names] + [node.module]
        elif isinstance(node, ast.Import):
            candidates = [alias.name for alias in node.names]
        else:
            continue
        found.update(name for name in candidates if name in known)
    return found


def test_no_import_circle_among_the_modules():
    modules = module_names()
    graph = {name: imported_modules(path, set(modules)) - {name} for name, path in modules.items()}
    try:
        tuple(graphlib.TopologicalSorter(graph).static_order())
    except graphlib.CycleError as circle:
        raise AssertionError(f"import circle: {' -> '.join(circle.args[1])}") from None


def test_no_two_modules_share_a_name():
    by_name: dict[str, list[str]] = {}
    for dotted in module_names():
        by_name.setdefault(dotted.rsplit(".", 1)[-1], []).append(dotted)
    shared = {name: paths for name, paths in by_name.items() if len(paths) > 1}
    assert not shared, shared
