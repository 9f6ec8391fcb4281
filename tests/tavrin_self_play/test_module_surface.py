import ast
import pathlib
import subprocess
import sys

import pytest
import tavrin_self_play as m

from module_fakes import Config, ListQueue, LoopbackNetwork

NAMES = ["play_training_game", "play_test_game", "play_test_against_random"]


def test_module_lists_its_three_functions_in_order():
    assert m.__all__ == NAMES
    assert m.__doc__ == ""
    for name in NAMES:
        function = getattr(m, name)
        assert function.__name__ == name
        assert function.__module__ == "tavrin_self_play"


def test_docstrings_and_text_signatures():
    assert m.play_training_game.__doc__ == "Works with Pytorch model to generate self-play data"
    assert m.play_test_game.__doc__ is None
    assert m.play_test_against_random.__doc__ is None
    assert m.play_training_game.__text_signature__ == "(id, config, result_queue, inference_queue, pipe)"
    assert m.play_test_against_random.__text_signature__ == "(id, config, result_queue, inference_queue, pipe)"
    assert m.play_test_game.__text_signature__ == "(id, config, result_queue, model_queue, baseline_queue, pipe)"


def test_internal_error_derives_directly_from_base_exception():
    assert m.InternalError.__bases__ == (BaseException,)
    assert not issubclass(m.InternalError, Exception)


class RecordingConfig:
    """Counts attribute reads, to show what happened before a failure."""

    def __init__(self):
        self.reads = []

    def __getattr__(self, name):
        self.reads.append(name)
        return getattr(Config(dim=8, sims_per_move=1), name)


def test_positional_and_keyword_calls_play_the_same_kind_of_game():
    network = LoopbackNetwork()
    by_position, by_keyword = ListQueue(), ListQueue()
    cfg = Config(dim=8, sims_per_move=1)
    assert m.play_training_game(4, cfg, by_position, network, network) == 0
    assert m.play_training_game(pipe=network, inference_queue=network, result_queue=by_keyword, config=cfg, id=5) == 0
    assert m.play_training_game(6, cfg, by_keyword, pipe=network, inference_queue=network) == 0
    assert [item[0] for item in by_position.items + by_keyword.items] == [4, 5, 6]


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1,), {"result_queue": 0, "inference_queue": 0}, "missing 1 required argument: 'pipe'"),
        ((1, 2, 3, 4, 5, 6), {}, "takes 5 positional arguments but 6 were given"),
        ((1, 2, 3, 4, 5), {"seed": 1}, "got an unexpected keyword argument 'seed'"),
        ((1, 2, 3, 4, 5), {"id": 1}, "got multiple values for argument 'id'"),
    ],
)
def test_binding_errors_come_before_the_config_is_read(args, kwargs, message):
    config = RecordingConfig()
    args = tuple(config if i == 1 else a for i, a in enumerate(args))
    if len(args) == 1:
        kwargs["config"] = config
    with pytest.raises(TypeError, match=message):
        m.play_training_game(*args, **kwargs)
    assert config.reads == []


class MissingSims:
    dim, rep, sample_moves = 8, 1, 1


@pytest.mark.parametrize("good_id", [2**31 - 1, -(2**31), True])
def test_id_range_is_signed_32_bit(good_id):
    # The id passes; the config then fails, which proves the call got that far.
    with pytest.raises(m.InternalError):
        m.play_test_against_random(good_id, MissingSims(), None, None, None)


def test_id_errors():
    with pytest.raises(OverflowError):
        m.play_training_game(2**31, MissingSims(), None, None, None)
    with pytest.raises(OverflowError):
        m.play_training_game(-(2**31) - 1, MissingSims(), None, None, None)
    with pytest.raises(TypeError) as info:
        m.play_training_game("3", MissingSims(), None, None, None)
    assert str(info.value).startswith("argument 'id': ")
    assert type(info.value) is TypeError


def test_id_accepts_objects_with_index():
    class Seven:
        def __index__(self):
            return 7

    results, network = ListQueue(), LoopbackNetwork()
    assert m.play_test_against_random(Seven(), Config(dim=8), results, network, network) == 0
    assert results.items[0][0] == 7
    assert all(request[0] == 7 for request in network.requests)


def test_second_initialisation_in_one_process_fails():
    code = (
        "import sys, importlib, tavrin_self_play\n"
        "del sys.modules['tavrin_self_play']\n"
        "try:\n    importlib.import_module('tavrin_self_play')\nexcept ImportError:\n    print('refused')\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=None, check=True,
                         cwd=pathlib.Path(m.__file__).parent)
    assert out.stdout.strip() == "refused"


def find_stub():
    module_dir = pathlib.Path(m.__file__).parent
    candidates = [module_dir / "tavrin_self_play.pyi",
                  pathlib.Path(__file__).resolve().parents[2] / "bindings" / "tavrin_self_play.pyi"]
    return next(path for path in candidates if path.exists())


def test_stub_matches_the_module():
    tree = ast.parse(find_stub().read_text())
    functions = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert sorted(functions) == sorted(NAMES)
    for name, node in functions.items():
        parameters = "(" + ", ".join(arg.arg for arg in node.args.args) + ")"
        assert parameters == getattr(m, name).__text_signature__
    assert ast.get_docstring(functions["play_training_game"]) == m.play_training_game.__doc__
    returns = {name: ast.unparse(node.returns) for name, node in functions.items()}
    assert returns == {"play_training_game": "int", "play_test_game": "float", "play_test_against_random": "int"}


def test_calls_hold_no_reference_after_returning():
    network, results, config = LoopbackNetwork(), ListQueue(), Config(dim=8, sims_per_move=1)
    failing = LoopbackNetwork(fail_recv_at=3)
    bad_config = Config(dim="eight")
    objects = [network, results, config, failing, bad_config]
    before = [sys.getrefcount(o) for o in objects]
    for _ in range(3):
        m.play_training_game(1, config, results, network, network)
        m.play_test_against_random(1, config, results, network, network)
        m.play_training_game(1, config, results, failing, failing)
        with pytest.raises(m.InternalError):
            m.play_training_game(1, bad_config, results, network, network)
        with pytest.raises(TypeError):
            m.play_training_game(1, config, results, network)
    results.items.clear()
    failing.error.__traceback__ = None  # its frames refer to `failing` itself
    assert [sys.getrefcount(o) for o in objects] == before
