"""Self-play through the ``tavrin_self_play`` module: game worker processes
(game_worker) with one request in flight each, an inference server process
answering them in batches (inference_server), and the supervisor that starts,
watches and stops both (supervisor)."""
