"""The board's quarter-turn symmetry.

A quarter turn clockwise carries each start corner onto the next player's
(top-left, player 0, onto top-right, player 1, and so on), so relabelling every
player p as p + 1 makes the rotated position a legal position of the same game.
The input planes and the value target are relative to the player to move and
the relabelling shifts everyone by the same amount: only the geometry turns
(the hands, kept beside the board planes, stay as they are).
"""

from __future__ import annotations

import numpy as np

from tavrin_trainer.learning.examples import Examples


def rotate_planes(planes: np.ndarray, quarter_turns: int) -> np.ndarray:
    """Turns (..., dim, dim) boards clockwise by the given number of quarter turns."""
    return np.rot90(planes, k=-quarter_turns, axes=(-2, -1))


def rotate_policy(policy: np.ndarray, quarter_turns: int) -> np.ndarray:
    """Turns (..., dim * dim) tile vectors like the board they index."""
    cells = policy.shape[-1]
    dim = int(round(cells ** 0.5))
    boards = policy.reshape(*policy.shape[:-1], dim, dim)
    return rotate_planes(boards, quarter_turns).reshape(policy.shape)


def rotate_examples(examples: Examples, quarter_turns: int) -> Examples:
    return Examples(np.ascontiguousarray(rotate_planes(examples.planes, quarter_turns)),
                    np.ascontiguousarray(rotate_policy(examples.policy, quarter_turns)),
                    examples.value.copy(),
                    np.ascontiguousarray(rotate_planes(examples.owners, quarter_turns)),
                    examples.score.copy(), examples.hands.copy())


def randomly_rotated(examples: Examples, rng: np.random.Generator) -> Examples:
    """Each example under its own random quarter turn (the training augmentation)."""
    turns = rng.integers(0, 4, size=len(examples))
    planes = np.empty_like(examples.planes)
    policy = np.empty_like(examples.policy)
    owners = np.empty_like(examples.owners)
    for k in range(4):
        chosen = turns == k
        if chosen.any():
            planes[chosen] = rotate_planes(examples.planes[chosen], k)
            policy[chosen] = rotate_policy(examples.policy[chosen], k)
            owners[chosen] = rotate_planes(examples.owners[chosen], k)
    return Examples(planes, policy, examples.value.copy(), owners, examples.score.copy(), examples.hands.copy())
