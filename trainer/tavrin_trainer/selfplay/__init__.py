"""Self-play: the games that feed the replay buffer.

search_settings  (in core.settings.search_settings) what a search reads; engines here take it
interface        what every self-play backend offers, and how games are shared out
pool_loop        one batched pool driven by one network: the loop every backend runs
pool_processes   local processes, each hosting a pool and its network
engines          the two engines the generation loop can use (pool, module)
demonstrations   greedy players' games for the warm start
server_engine/   the tavrin_self_play module in game workers, fed by one inference server
"""
