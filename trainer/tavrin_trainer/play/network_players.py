"""The networks a server offers, as players: one per network and search
settings, built once and shared by every game and thread.

A player builds its inference backend (an ONNX export, say) the first time
it runs, which two threads must not do at once; so a player is built under
a lock and run once on a start position before any request gets it.
"""

from __future__ import annotations

import threading
from collections import OrderedDict
from pathlib import Path

import tavrin_engine as te

from tavrin_trainer.core.run_folder.run_directory import RunDirectoryError, load_network_checkpoint
from tavrin_trainer.core.settings.limits import MIN_SIDE
from tavrin_trainer.evaluation.players import NetworkPlayer
from tavrin_trainer.play.session import PLAYOUT_WEIGHT, RequestRefused

# Players kept at once (each holds its network's weights and backend).
MAX_PLAYERS = 16
DEFAULT_SIDE = 20


class NetworkPlayers:
    def __init__(self, networks: dict[str, Path], inference: str) -> None:
        self.networks = networks
        self.inference = inference
        self._players: OrderedDict[tuple[str, int, int], NetworkPlayer] = OrderedDict()
        self._sides: dict[str, int | None] = {}
        self._lock = threading.Lock()

    def player(self, name: str, simulations: int, playouts: int = 0) -> NetworkPlayer:
        """The ready player of network ``name`` with these settings; RequestRefused
        for a name not offered (400) or a checkpoint that cannot be read (422)."""
        path = self._path(name)
        key = (name, simulations, playouts)
        with self._lock:  # builds are rare and short next to a search: one at a time
            player = self._players.get(key)
            if player is None:
                player = self._build(name, path, simulations, playouts)
                self._players[key] = player
                while len(self._players) > MAX_PLAYERS:
                    self._players.popitem(last=False)  # games seated with it keep theirs
            self._players.move_to_end(key)
            return player

    def trained_side(self, name: str) -> int | None:
        """The board side the network was trained on, when its checkpoint says."""
        path = self._path(name)
        with self._lock:
            if name not in self._sides:
                try:
                    side = load_network_checkpoint(path).get("dim")
                except (OSError, RunDirectoryError):
                    side = None
                self._sides[name] = side if isinstance(side, int) and not isinstance(side, bool) else None
            return self._sides[name]

    def _path(self, name: str) -> Path:
        if name not in self.networks:
            raise RequestRefused(f"no network named {name!r}; this server offers: "
                                 f"{', '.join(self.networks) or 'none'}", 400)
        return self.networks[name]

    def _build(self, name: str, path: Path, simulations: int, playouts: int) -> NetworkPlayer:
        try:
            player = NetworkPlayer.from_checkpoint(path, simulations=simulations, inference=self.inference,
                                                   playouts=playouts, playout_weight=PLAYOUT_WEIGHT)
        # Missing, damaged, or weights of another shape than the one it records.
        except (OSError, RunDirectoryError, KeyError, RuntimeError) as error:
            raise RequestRefused(f"the network {name!r} cannot be loaded: {error}", 422) from None
        trained = player.trained_side
        side = trained if isinstance(trained, int) and MIN_SIDE <= trained <= te.MAX_SIDE else DEFAULT_SIDE
        player.evaluate(te.Game(side))  # builds its backend here, in one thread
        return player
