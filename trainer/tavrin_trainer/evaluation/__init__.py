"""Measuring strength: players (fixed yardsticks and the network), the
seat-rotated arena, and ratings across many players."""
