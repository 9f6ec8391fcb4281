"""The policy-value network: a fully convolutional residual net.

Nothing in it depends on the board side, so one set of weights serves the
small self-play board and the side-20 board of the evaluation game. The policy
head is a 1x1 convolution (one logit per tile); the value head pools over the
board before its linear layers.
"""

from __future__ import annotations

import copy
from dataclasses import dataclass

import tavrin_engine as te
import torch
from torch import nn
from torch.nn import functional as F
from torch.nn.utils.fusion import fuse_conv_bn_eval

# The final owner of a cell: one of the players, relative to the mover, or nobody.
OWNER_CLASSES = te.PLAYERS + 1


@dataclass(frozen=True)
class NetworkShape:
    channels: int
    blocks: int
    # Heads trained on the final board (owner of every cell) and the final
    # scores: denser targets than the payoff alone. Inference never runs them.
    aux_heads: bool = False
    input_planes: int = te.STATE_PLANES  # or te.EXTENDED_STATE_PLANES


class ResidualBlock(nn.Module):
    def __init__(self, channels: int) -> None:
        super().__init__()
        self.conv1 = nn.Conv2d(channels, channels, 3, padding=1, bias=False)
        self.norm1 = nn.BatchNorm2d(channels)
        self.conv2 = nn.Conv2d(channels, channels, 3, padding=1, bias=False)
        self.norm2 = nn.BatchNorm2d(channels)

    def forward(self, x: torch.Tensor) -> torch.Tensor:
        y = F.relu(self.norm1(self.conv1(x)))
        return F.relu(x + self.norm2(self.conv2(y)))


class TavrinNet(nn.Module):
    """Input (N, P, dim, dim) planes-first or (N, dim, dim, P) planes-last
    (``planes_last=True``), bool or float, P the shape's ``input_planes`` (5,
    or the engine's 90 extended planes). The extended input may also come as
    its 6 board planes with ``hands`` (N, 84), one entry per hand plane, as
    the pool and the replay buffer hold it. Output (policy logits (N, dim*dim),
    value logits (N, 4)), both relative to the player to move."""

    def __init__(self, shape: NetworkShape) -> None:
        super().__init__()
        self.shape = shape
        c = shape.channels
        if shape.input_planes not in (te.STATE_PLANES, te.EXTENDED_STATE_PLANES):
            raise ValueError(f"a network reads {te.STATE_PLANES} or {te.EXTENDED_STATE_PLANES} planes, "
                             f"not {shape.input_planes}")
        self.board_planes = te.STATE_PLANES if shape.input_planes == te.STATE_PLANES else te.EXTENDED_BOARD_PLANES
        # A constant plane of ones lets the zero padding mark the board's edge.
        self.stem = nn.Sequential(nn.Conv2d(self.board_planes + 1, c, 3, padding=1, bias=False),
                                  nn.BatchNorm2d(c), nn.ReLU())
        if shape.input_planes == te.EXTENDED_STATE_PLANES:
            # The hand planes are constant over the board: read once, they
            # shift every cell's features alike, at the cost of one small layer.
            self.hands_fc = nn.Linear(te.EXTENDED_STATE_PLANES - te.EXTENDED_BOARD_PLANES, c)
        self.trunk = nn.Sequential(*(ResidualBlock(c) for _ in range(shape.blocks)))
        self.policy_head = nn.Sequential(nn.Conv2d(c, 8, 1, bias=False), nn.BatchNorm2d(8), nn.ReLU(),
                                         nn.Conv2d(8, 1, 1))
        self.value_conv = nn.Sequential(nn.Conv2d(c, 8, 1, bias=False), nn.BatchNorm2d(8), nn.ReLU())
        self.value_fc = nn.Sequential(nn.Linear(2 * 8, c), nn.ReLU(), nn.Linear(c, te.PLAYERS))
        if shape.aux_heads:
            # Owner classes per cell: the four players relative to the mover, then empty.
            self.ownership_head = nn.Conv2d(c, OWNER_CLASSES, 1)
            self.score_head = nn.Linear(2 * 8, te.PLAYERS)
        # Uniform priors and values at the start: an untrained network's
        # arbitrary preferences can be strong or weak by luck of the seed,
        # which would make generation 0 a meaningless yardstick.
        for last in (self.policy_head[-1], self.value_fc[-1]):
            nn.init.zeros_(last.weight)
            nn.init.zeros_(last.bias)

    def forward(self, planes: torch.Tensor, hands: torch.Tensor | None = None,
                planes_last: bool = False) -> tuple[torch.Tensor, torch.Tensor]:
        policy, value, _ = self._run(planes, hands, planes_last, aux=False)
        return policy, value

    def forward_with_aux(self, planes: torch.Tensor, hands: torch.Tensor | None = None
                         ) -> tuple[torch.Tensor, torch.Tensor, dict[str, torch.Tensor]]:
        """Training's view: policy, value and, with ``aux_heads``, the
        ownership logits (N, 5, dim, dim) and the predicted scores (N, 4)."""
        return self._run(planes, hands, planes_last=False, aux=self.shape.aux_heads)

    def _run(self, planes: torch.Tensor, hands: torch.Tensor | None, planes_last: bool, aux: bool):
        if planes.dim() != 4:
            raise ValueError(f"expected a batch of positions with 4 dimensions, got shape {tuple(planes.shape)}")
        if planes_last:
            planes = planes.permute(0, 3, 1, 2)
        planes, hands = self._split_hands(planes, hands)
        x = planes.float()
        ones = torch.ones_like(x[:, :1])
        x = self.stem(torch.cat([x, ones], dim=1))
        if hands is not None:
            x = x + self.hands_fc(hands.float())[:, :, None, None]
        x = self.trunk(x)
        policy = self.policy_head(x).flatten(1)
        v = self.value_conv(x)
        pooled = torch.cat([v.mean(dim=(2, 3)), v.amax(dim=(2, 3))], dim=1)
        extra = {"ownership": self.ownership_head(x), "score": self.score_head(pooled)} if aux else {}
        return policy, self.value_fc(pooled), extra

    def _split_hands(self, planes: torch.Tensor, hands: torch.Tensor | None
                     ) -> tuple[torch.Tensor, torch.Tensor | None]:
        """The board planes and, for the extended input, the hand entries,
        whichever form the input came in."""
        count, given, side = planes.shape[0], planes.shape[1], planes.shape[2:]
        extended = self.shape.input_planes == te.EXTENDED_STATE_PLANES
        if side[0] != side[1]:
            raise ValueError(f"expected square planes, got shape {tuple(planes.shape)}")
        if hands is not None:
            if not extended or given != te.EXTENDED_BOARD_PLANES or tuple(hands.shape) != (count, te.HAND_PLANES):
                raise ValueError(f"expected {te.EXTENDED_BOARD_PLANES} board planes with hands ({count}, "
                                 f"{te.HAND_PLANES}) for a network of {self.shape.input_planes} planes, got planes "
                                 f"{tuple(planes.shape)} and hands {tuple(hands.shape)}")
            return planes, hands
        if given != self.shape.input_planes:
            raise ValueError(f"expected {self.shape.input_planes} square planes, got shape {tuple(planes.shape)}")
        if extended:
            return planes[:, :te.EXTENDED_BOARD_PLANES], planes[:, te.EXTENDED_BOARD_PLANES:, 0, 0]
        return planes, None


def model_from_checkpoint(saved: dict) -> TavrinNet:
    """The network a checkpoint dict describes (its ``shape`` and weights)."""
    model = TavrinNet(NetworkShape(**saved["shape"]))
    model.load_state_dict(saved["model"])
    return model


def model_from_weights(channels: int, blocks: int, weights: dict) -> TavrinNet:
    """For weights saved without their shape: the heads are read off the keys."""
    aux = any(key.startswith("ownership_head.") for key in weights)
    model = TavrinNet(NetworkShape(channels, blocks, aux_heads=aux))
    model.load_state_dict(weights)
    return model


def legal_masked(policy_logits: torch.Tensor, legal: torch.Tensor) -> torch.Tensor:
    """Pushes illegal tiles far down, as the engine ignores them anyway; a large
    finite value keeps 0 * log-probability at 0 where -inf would give NaN."""
    return policy_logits.masked_fill(~legal, -1e9)


def inference_copy(model: TavrinNet) -> TavrinNet:
    """A copy for inference only, with every batch normalisation folded into
    the convolution before it (torch's own fusion): the same outputs up to
    rounding, about a tenth faster on the CPU. Not for training."""
    fused = copy.deepcopy(model).eval()
    for sequence in (fused.stem, fused.policy_head, fused.value_conv):
        sequence[0], sequence[1] = fuse_conv_bn_eval(sequence[0], sequence[1]), nn.Identity()
    for block in fused.trunk:
        block.conv1, block.norm1 = fuse_conv_bn_eval(block.conv1, block.norm1), nn.Identity()
        block.conv2, block.norm2 = fuse_conv_bn_eval(block.conv2, block.norm2), nn.Identity()
    return fused
