"""Losses, the learning-rate schedule and the training steps of one generation."""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np
import torch
from torch.nn import functional as F

from tavrin_trainer.learning.examples import UNKNOWN, Examples
from tavrin_trainer.learning.network import TavrinNet, legal_masked
from tavrin_trainer.learning.replay_buffer import ReplayBuffer

# The cosine schedule ends at this share of the starting rate, not at zero,
# so that a run extended past its planned generations still learns.
FINAL_RATE_SHARE = 0.05


# Temperature, in squares, of the soft ranking that the score mix blends
# into the value target: a lead of two squares is worth odds of e to 1.
SCORE_MIX_TEMPERATURE = 2.0


@dataclass(frozen=True)
class LossWeights:
    value: float = 1.0
    ownership: float = 0.0
    score: float = 0.0
    score_mix: float = 0.0  # share of the soft score ranking in the value target


def value_target(value: torch.Tensor, score: torch.Tensor, dim: int, score_mix: float) -> torch.Tensor:
    """The payoffs, blended with ``score_mix`` of a soft ranking of the final
    scores. Where the seat order all but decides the winner, the payoffs say
    little about a move; the squares each player got still do."""
    if score_mix <= 0:
        return value
    margins = score * (dim * dim / 4) / SCORE_MIX_TEMPERATURE
    known = ~torch.isnan(margins).any(dim=1, keepdim=True)
    soft = torch.softmax(torch.nan_to_num(margins), dim=1)
    return torch.where(known, (1 - score_mix) * value + score_mix * soft, value)


@dataclass
class Losses:
    policy: float
    value: float
    ownership: float = 0.0
    score: float = 0.0


def learning_rate(base: float, schedule: str, generation: int, generations: int) -> float:
    """The rate of the training steps that make ``generation`` (1-based)
    out of ``generations``: constant, or a cosine from ``base`` down to
    FINAL_RATE_SHARE of it at the last generation."""
    if schedule == "constant" or generations <= 1:
        return base
    progress = min(max(generation - 1, 0) / (generations - 1), 1.0)
    share = FINAL_RATE_SHARE + (1 - FINAL_RATE_SHARE) * 0.5 * (1 + math.cos(math.pi * progress))
    return base * share


def batch_losses(model: TavrinNet, batch: Examples, score_mix: float = 0.0) -> dict[str, torch.Tensor]:
    """Cross-entropies of the policy (over the legal tiles, as the engine
    masks them) and of the value (the payoffs as a distribution over
    players); with auxiliary heads, the ownership cross-entropy per known
    cell and the squared error of the score margins."""
    device = next(model.parameters()).device
    planes = torch.from_numpy(batch.planes).to(device)
    hands = torch.from_numpy(batch.hands).to(device) if batch.hands.shape[1] else None
    policy_logits, value_logits, aux = model.forward_with_aux(planes, hands)
    legal = planes[:, 4].flatten(1)
    log_policy = F.log_softmax(legal_masked(policy_logits, legal), dim=1)
    losses = {
        "policy": -(torch.from_numpy(batch.policy).to(device) * log_policy).sum(dim=1).mean(),
        "value": -(value_target(torch.from_numpy(batch.value).to(device), torch.from_numpy(batch.score).to(device),
                                planes.shape[-1], score_mix) * F.log_softmax(value_logits, dim=1)).sum(dim=1).mean(),
    }
    if aux:
        owners = torch.from_numpy(batch.owners).to(device).long()
        if (owners != UNKNOWN).any():
            losses["ownership"] = F.cross_entropy(aux["ownership"], owners, ignore_index=UNKNOWN)
        score = torch.from_numpy(batch.score).to(device)
        known = ~torch.isnan(score).any(dim=1)
        if known.any():
            losses["score"] = F.mse_loss(aux["score"][known], score[known])
    return losses


def train_steps(model: TavrinNet, optimizer: torch.optim.Optimizer, buffer: ReplayBuffer, steps: int,
                batch_size: int, weights: LossWeights, rng: np.random.Generator, progress=None,
                bf16: bool = False) -> Losses:
    """Runs ``steps`` Adam steps; returns the mean losses over them. With
    ``bf16`` the forward pass runs under bfloat16 autocast (the losses, the
    weights and Adam's state stay fp32)."""
    model.train()
    sums = dict.fromkeys(("policy", "value", "ownership", "score"), 0.0)
    factors = {"policy": 1.0, "value": weights.value, "ownership": weights.ownership, "score": weights.score}
    device_type = next(model.parameters()).device.type
    for _ in range(steps):
        with torch.autocast(device_type, dtype=torch.bfloat16, enabled=bf16):
            losses = batch_losses(model, buffer.sample(batch_size, rng), weights.score_mix)
        total = sum(factors[name] * loss for name, loss in losses.items() if factors[name] > 0)
        optimizer.zero_grad(set_to_none=True)
        total.backward()
        optimizer.step()
        for name, loss in losses.items():
            sums[name] += loss.item()
        if progress is not None:
            progress.update(1)
    model.eval()
    return Losses(**{name: total / max(steps, 1) for name, total in sums.items()})
