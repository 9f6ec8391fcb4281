"""What the network learns from and how: training examples from records
(examples), the network (network), its losses and optimiser steps
(optimisation), the replay buffer (replay_buffer) and the board symmetries
(symmetry)."""
