"""What a run is told: its settings and their flags (``train_settings``), what
one search reads (``search_settings``), the names a setting may hold (player
names, inference backends) and the bounds checked before the engine sees a
value."""
