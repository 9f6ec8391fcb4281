import numpy as np
import pytest
import torch

from tavrin_trainer.learning import inference
from tavrin_trainer.learning.inference import (cpu_has_bf16, make_inference, onnx_available, resolve_backend,
                                               resolve_train_precision)
from tavrin_trainer.learning.network import NetworkShape, TavrinNet, inference_copy


def random_network(input_planes):
    torch.manual_seed(1)
    model = TavrinNet(NetworkShape(channels=8, blocks=1, aux_heads=True, input_planes=input_planes))
    for parameter in model.parameters():
        torch.nn.init.normal_(parameter, std=0.3)
    return inference_copy(model.eval())


def random_batch(count, dim, board_planes, hand_entries, planes_last, seed=0):
    rng = np.random.default_rng(seed)
    board = rng.random((count, board_planes, dim, dim)) < 0.3
    if planes_last:
        board = np.ascontiguousarray(board.transpose(0, 2, 3, 1))
    return board, rng.random((count, hand_entries)) < 0.5


@pytest.mark.parametrize("backend, tolerance", [
    ("bf16", 0.1),
    pytest.param("onnx", 1e-4, marks=pytest.mark.skipif(not onnx_available(), reason="needs onnx, onnxruntime")),
])
@pytest.mark.parametrize("input_planes, planes_last", [(5, False), (90, True), (90, False)])
def test_every_backend_gives_the_fp32_network_s_answers(backend, tolerance, input_planes, planes_last):
    model = random_network(input_planes)
    board_planes, hands = (5, 0) if input_planes == 5 else (6, 84)
    reference = make_inference(model, "fp32", "cpu", planes_last)
    other = make_inference(model, backend, "cpu", planes_last)
    for dim, count in ((7, 3), (12, 5)):  # one export serves every batch size and side
        batch = random_batch(count, dim, board_planes, hands, planes_last, seed=dim)
        for got, wanted in zip(other(*batch), reference(*batch)):
            assert got.dtype == torch.float32 and got.shape == wanted.shape
            torch.testing.assert_close(got, wanted, atol=tolerance, rtol=0)
    # The widened planes the engine's Game.state gives are the same input.
    board, hand_entries = random_batch(2, 7, board_planes, hands, False)
    widened = np.concatenate([board, np.broadcast_to(hand_entries[:, :, None, None], (2, hands, 7, 7))], axis=1)
    torch.testing.assert_close(model(torch.from_numpy(widened))[0],
                               model(torch.from_numpy(board), torch.from_numpy(hand_entries) if hands else None)[0])


def test_backends_resolve_by_device_and_cpu_and_refuse_what_cannot_run(tmp_path, monkeypatch):
    assert resolve_backend("auto", "cuda") == "fp32"
    assert resolve_backend("auto", "cpu") == ("onnx" if onnx_available() else "bf16" if cpu_has_bf16() else "fp32")
    cpuinfo = tmp_path / "cpuinfo"
    cpuinfo.write_text("processor\t: 0\nflags\t\t: fpu avx512f avx512_bf16 amx_tile\n")
    assert cpu_has_bf16(str(cpuinfo))
    cpuinfo.write_text("processor\t: 0\nflags\t\t: fpu avx512f avx512bw amx_tile\n")
    assert not cpu_has_bf16(str(cpuinfo))
    assert not cpu_has_bf16(str(tmp_path / "absent"))
    monkeypatch.setattr(inference, "onnx_available", lambda: False)
    for has_bf16, wanted in ((True, "bf16"), (False, "fp32")):
        monkeypatch.setattr(inference, "cpu_has_bf16", lambda has=has_bf16: has)
        assert resolve_backend("auto", "cpu") == resolve_train_precision("auto", "cpu") == wanted
        assert resolve_backend("auto", "cuda") == resolve_train_precision("auto", "cuda") == "fp32"
        assert resolve_train_precision("fp32", "cpu") == "fp32" and resolve_train_precision("bf16", "cuda") == "bf16"
    with pytest.raises(ValueError, match="onnx runs on the CPU"):
        resolve_backend("onnx", "cuda")
    with pytest.raises(ValueError, match="must be one of auto, fp32, bf16, onnx"):
        resolve_backend("int4", "cpu")
