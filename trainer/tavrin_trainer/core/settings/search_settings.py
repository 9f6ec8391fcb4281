"""What one search reads, whoever runs it."""

from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class SearchSettings:
    """What one search reads, whoever runs it: the self-play pools, the
    network player's search and the Ray actors take this one object.

    The first seven fields are the attributes the ``tavrin_self_play`` module
    reads from its ``config`` argument, so an instance is also a module
    config; the module ignores the rest. The defaults choose a move as a
    player does: no root noise, no sampling, the most visited tile."""

    dim: int
    rep: int = 1
    sims_per_move: int = 32
    sample_moves: int = 0
    c_puct: float = 1.5
    dirichlet_alpha: float = 0.5
    exploration_fraction: float = 0.0
    # Read by the batched pool only.
    skip_single_tile: bool = False
    full_search_fraction: float = 1.0
    reduced_sims: int = 0
    extended_planes: bool = False
    first_play_reduction: float | None = None
    # At least 2: a Gumbel root with that many candidates (sequential halving,
    # improved-policy targets); 0: PUCT with Dirichlet noise at the root too.
    gumbel_candidates: int = 0
    # Network answers a pool keeps for positions reached again (0: none).
    evaluation_cache: int = 0
    # How a leaf is valued: 'network', 'mixed' ((1 - playout_weight) * the
    # network's value + playout_weight * the mean payoff of `playouts` random
    # playouts from it) or 'playouts' (uniform priors, playouts alone).
    leaf_evaluation: str = "network"
    playouts: int = 1
    playout_weight: float = 0.5
    # How the playouts choose their tiles: 'uniform', or 'larger' (each
    # piece's placement drawn in proportion to its size squared).
    playout_policy: str = "uniform"
    # Leaves a search gathers per network call (a virtual loss keeps them
    # apart); 1 evaluates each leaf before the next descent.
    leaf_batch: int = 1
    # 'puct', or 'ucb1' (the rollout player's rule: priors unread).
    selection: str = "puct"
    # Share of a searched action's mean backed-up value in its value target.
    searched_value_weight: float = 0.0
    # Records carry the whole placements each search went through.
    placement_shares: bool = False
    # Each player's first this many actions are drawn from the search's policy.
    opening_sample_actions: int = 0
    # Game number n of a pool draws its noise and samples from its own stream
    # seeded from (seed, n); None draws from the operating system.
    seed: int | None = None
