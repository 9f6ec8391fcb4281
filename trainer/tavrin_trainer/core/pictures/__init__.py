"""What a run draws: the loss and strength plots, and finished boards as SVG
or PNG."""
