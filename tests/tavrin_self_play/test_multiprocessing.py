import multiprocessing

import tavrin_self_play as m

from module_fakes import Config, ListQueue, LoopbackNetwork, inference_server, local_training_worker, training_worker

WORKERS = 3
TIMEOUT = 120


def test_workers_share_one_inference_queue_and_all_records_arrive():
    ctx = multiprocessing.get_context("fork")
    requests, results = ctx.Queue(), ctx.Queue()
    pipes = [ctx.Pipe() for _ in range(WORKERS)]
    server = ctx.Process(target=inference_server, args=(requests, [server_end for _, server_end in pipes]))
    config = Config(dim=8, sims_per_move=3)
    workers = [ctx.Process(target=training_worker, args=(i, config, results, requests, pipes[i][0]))
               for i in range(WORKERS)]
    server.start()
    for worker in workers:
        worker.start()
    try:
        received = [results.get(timeout=TIMEOUT) for _ in range(2 * WORKERS)]
    finally:
        requests.put(None)
        for process in workers + [server]:
            process.join(timeout=TIMEOUT)
    records = {item[0]: item[1] for item in received if item[0] != "status"}
    statuses = {item[1]: item[2] for item in received if item[0] == "status"}
    assert statuses == {i: 0 for i in range(WORKERS)}
    assert sorted(records) == list(range(WORKERS))
    for moves, policies, payoffs in records.values():
        assert len(moves) == len(policies) > 0 and len(payoffs) == 4
    assert all(process.exitcode == 0 for process in workers + [server])


def test_forked_workers_draw_different_random_sequences():
    # Seed the parent's generator first: a copied state would repeat in every child.
    network = LoopbackNetwork()
    m.play_training_game(0, Config(dim=8), ListQueue(), network, network)

    ctx = multiprocessing.get_context("fork")
    results = ctx.Queue()
    config = Config(dim=8, sims_per_move=2, sample_moves=10**6)  # every action sampled
    workers = [ctx.Process(target=local_training_worker, args=(i, config, results)) for i in (1, 2)]
    for worker in workers:
        worker.start()
    moves = dict(results.get(timeout=TIMEOUT) for _ in workers)
    for worker in workers:
        worker.join(timeout=TIMEOUT)
    assert moves[1] != moves[2]
