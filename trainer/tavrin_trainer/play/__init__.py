"""tavrin-play: a local web app to play against players and networks, watch
saved games and follow a run. The sessions and their rules are plain Python
(``session``); ``app`` serves them as JSON requests and the static page."""
