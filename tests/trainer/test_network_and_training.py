import numpy as np
import pytest
import torch

from tavrin_trainer.learning.examples import UNKNOWN, Examples
from tavrin_trainer.learning.network import NetworkShape, TavrinNet, inference_copy
from tavrin_trainer.learning.optimisation import LossWeights, batch_losses, learning_rate, train_steps, value_target
from tavrin_trainer.learning.replay_buffer import ReplayBuffer
from tavrin_trainer.selfplay.engines import resolve_device


def randomised_net(seed=0):
    torch.manual_seed(seed)
    model = TavrinNet(NetworkShape(channels=8, blocks=1))
    for parameter in model.parameters():
        torch.nn.init.normal_(parameter, std=0.3)
    return model.eval()


def random_examples(count, dim, seed=0):
    rng = np.random.default_rng(seed)
    planes = rng.random((count, 5, dim, dim)) < 0.3
    planes[:, 4, 0, 0] = True  # at least one legal tile each
    legal = planes[:, 4].reshape(count, -1)
    policy = rng.random((count, dim * dim)) * legal
    value = np.eye(4)[rng.integers(0, 4, count)]
    return Examples(planes, (policy / policy.sum(1, keepdims=True)).astype(np.float32), value.astype(np.float32))


def test_one_network_serves_both_layouts_and_every_board_side():
    model = randomised_net()
    for dim in (5, 8, 20):
        planes = torch.from_numpy(random_examples(3, dim).planes)
        policy, value = model(planes)
        assert policy.shape == (3, dim * dim) and value.shape == (3, 4)
        last_policy, last_value = model(planes.permute(0, 2, 3, 1), planes_last=True)
        torch.testing.assert_close(last_policy, policy)
        torch.testing.assert_close(last_value, value)
    with pytest.raises(ValueError, match="5 square planes"):
        model(torch.zeros(1, 4, 6, 6))


def test_an_untrained_network_has_uniform_priors_and_values():
    policy, value = TavrinNet(NetworkShape(8, 1)).eval()(torch.from_numpy(random_examples(2, 6).planes))
    assert torch.all(policy == policy[0, 0]) and torch.all(value == 0)


def test_the_policy_loss_ignores_the_logits_of_illegal_tiles():
    batch = random_examples(4, 6)
    model = randomised_net()
    before = batch_losses(model, batch)["policy"]
    forward = model.forward_with_aux

    def illegal_logits_changed(planes, hands=None):
        policy, value, aux = forward(planes, hands)
        illegal = ~planes[:, 4].flatten(1)
        return policy + 50.0 * illegal * torch.randn_like(policy), value, aux

    model.forward_with_aux = illegal_logits_changed
    after = batch_losses(model, batch)["policy"]
    torch.testing.assert_close(after, before)


def learnable_examples(count, dim, seed=0):
    """The target is the one legal tile that also holds a square of the next player."""
    examples = random_examples(count, dim, seed)
    rng = np.random.default_rng(seed)
    planes = examples.planes.reshape(count, 5, -1)
    planes[:, 1] &= ~planes[:, 4]
    chosen = rng.integers(0, dim * dim, count)
    planes[np.arange(count), 1, chosen] = planes[np.arange(count), 4, chosen] = True
    examples.policy[:] = np.eye(dim * dim, dtype=np.float32)[chosen]
    return examples


@pytest.mark.parametrize("bf16", [False, True], ids=["fp32", "bf16"])
def test_training_learns_a_policy_and_a_value(bf16):
    buffer = ReplayBuffer(capacity=128, dim=6)
    buffer.add(learnable_examples(128, 6))
    model = randomised_net()
    optimizer = torch.optim.Adam(model.parameters(), lr=1e-2)
    rng = np.random.default_rng(0)
    first = train_steps(model, optimizer, buffer, 3, 128, LossWeights(), rng, bf16=bf16)
    train_steps(model, optimizer, buffer, 80, 128, LossWeights(), rng, bf16=bf16)
    last = train_steps(model, optimizer, buffer, 3, 128, LossWeights(), rng, bf16=bf16)
    assert last.policy < 0.5 * first.policy
    assert last.value < first.value
    assert not model.training  # left ready for inference
    assert all(p.dtype == torch.float32 for p in model.parameters())  # autocast leaves the weights fp32


@pytest.mark.parametrize("bf16", [False, True], ids=["fp32", "bf16"])
def test_auxiliary_heads_learn_and_unknown_targets_train_nothing(bf16):
    torch.manual_seed(0)
    model = TavrinNet(NetworkShape(8, 1, aux_heads=True))
    examples = learnable_examples(64, 6)
    examples.owners[:] = np.where(examples.planes[:, 1], 1, 4)
    examples.score[:] = np.array([0.5, -0.5, 0.25, -0.25], dtype=np.float32)
    buffer = ReplayBuffer(capacity=64, dim=6)
    buffer.add(examples)
    optimizer = torch.optim.Adam(model.parameters(), lr=1e-2)
    rng = np.random.default_rng(0)
    weights = LossWeights(value=1.0, ownership=1.0, score=1.0)
    first = train_steps(model, optimizer, buffer, 3, 64, weights, rng, bf16=bf16)
    train_steps(model, optimizer, buffer, 60, 64, weights, rng, bf16=bf16)
    last = train_steps(model, optimizer, buffer, 3, 64, weights, rng, bf16=bf16)
    assert last.ownership < 0.5 * first.ownership and last.score < 0.5 * first.score
    unknown = learnable_examples(8, 6)
    assert unknown.owners.min() == UNKNOWN and np.isnan(unknown.score).all()
    assert set(batch_losses(model, unknown)) == {"policy", "value"}


def test_the_score_mix_blends_a_soft_ranking_into_known_value_targets_only():
    value = torch.tensor([[0.0, 1.0, 0.0, 0.0], [0.5, 0.5, 0.0, 0.0]])
    # Side 8: margins of +4, -2, 0, -2 squares; the second row has no score.
    score = torch.tensor([[0.25, -0.125, 0.0, -0.125], [float("nan")] * 4])
    mixed = value_target(value, score, 8, 0.5)
    torch.testing.assert_close(mixed.sum(dim=1), torch.ones(2))
    soft = torch.softmax(torch.tensor([2.0, -1.0, 0.0, -1.0]), dim=0)  # two squares of lead: odds of e
    torch.testing.assert_close(mixed[0], 0.5 * value[0] + 0.5 * soft)
    torch.testing.assert_close(mixed[1], value[1])
    assert value_target(value, score, 8, 0.0) is value


def test_the_cosine_schedule_falls_from_the_rate_to_a_twentieth():
    rates = [learning_rate(1.0, "cosine", g, 10) for g in range(1, 11)]
    assert rates[0] == 1.0 and rates[-1] == pytest.approx(0.05)
    assert all(a > b for a, b in zip(rates, rates[1:]))
    assert learning_rate(1.0, "constant", 7, 10) == 1.0


def test_the_inference_copy_gives_the_trained_network_s_outputs():
    model = randomised_net()
    for module in model.modules():  # running statistics away from the identity
        if isinstance(module, torch.nn.BatchNorm2d):
            module.running_mean.normal_(0, 0.5)
            module.running_var.uniform_(0.5, 2.0)
    planes = torch.from_numpy(random_examples(16, dim=6).planes)
    with torch.inference_mode():
        expected, fused = model.eval()(planes), inference_copy(model)(planes)
    for want, got in zip(expected, fused):
        torch.testing.assert_close(got, want, rtol=1e-4, atol=1e-5)


@pytest.mark.skipif(torch.cuda.is_available(), reason="a GPU is present")
def test_a_device_torch_cannot_see_is_refused_and_auto_falls_back_to_the_cpu():
    assert resolve_device("auto") == "cpu"
    with pytest.raises(ValueError, match="torch sees no CUDA device"):
        resolve_device("cuda")
