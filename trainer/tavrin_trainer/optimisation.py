"""Losses and the training steps of one generation."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np
import torch
from torch.nn import functional as F

from .network import TavrinNet, legal_masked
from .records import Examples
from .replay_buffer import ReplayBuffer


@dataclass
class Losses:
    policy: float
    value: float

    @property
    def total(self) -> float:
        return self.policy + self.value


def batch_losses(model: TavrinNet, batch: Examples) -> tuple[torch.Tensor, torch.Tensor]:
    """Cross-entropies of the policy (over the legal tiles, as the engine
    masks them) and of the value (the payoffs as a distribution over players)."""
    device = next(model.parameters()).device
    planes = torch.from_numpy(batch.planes).to(device)
    policy_logits, value_logits = model(planes)
    legal = planes[:, 4].flatten(1)
    log_policy = F.log_softmax(legal_masked(policy_logits, legal), dim=1)
    policy_loss = -(torch.from_numpy(batch.policy).to(device) * log_policy).sum(dim=1).mean()
    value_loss = -(torch.from_numpy(batch.value).to(device) * F.log_softmax(value_logits, dim=1)).sum(dim=1).mean()
    return policy_loss, value_loss


def train_steps(model: TavrinNet, optimizer: torch.optim.Optimizer, buffer: ReplayBuffer, steps: int,
                batch_size: int, value_weight: float, rng: np.random.Generator, progress=None) -> Losses:
    """Runs ``steps`` Adam steps; returns the mean losses over them."""
    model.train()
    policy_sum = value_sum = 0.0
    for _ in range(steps):
        policy_loss, value_loss = batch_losses(model, buffer.sample(batch_size, rng))
        optimizer.zero_grad(set_to_none=True)
        (policy_loss + value_weight * value_loss).backward()
        optimizer.step()
        policy_sum += policy_loss.item()
        value_sum += value_loss.item()
        if progress is not None:
            progress.update(1)
    model.eval()
    return Losses(policy_sum / max(steps, 1), value_sum / max(steps, 1))
