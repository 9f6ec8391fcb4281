// tavrin-play's page: play, watch saved games, follow a run.
"use strict";

// gameId: the game this page shows; an answer about any other game (one
// replaced by New game while a computer move was in flight) is dropped.
const page = { options: null, game: null, gameId: null, piece: null, shape: null, analysis: null,
               pendingAdvance: null, sending: null, analysisAsked: 0 };
const $ = id => document.getElementById(id);
// Simulations of a hint when the analysis asks for fewer: enough for whole pieces.
const HINT_SIMULATIONS = 128;

async function request(path, body) {
  const response = await fetch(path, body === undefined ? {} : {
    method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body),
  });
  const answer = await response.json();
  if (!response.ok) {
    const error = new Error(answer.error || `${response.status}`);
    error.status = response.status;
    error.stopped = answer.stopped === true;  // a search stopped by this page's own later request
    throw error;
  }
  return answer;
}

// A change to the shown game; answers that come back for another game are dropped, and a
// refusal because the game moved on (another tab, a double click) shows the game as it is now.
// Undo goes through while a computer move is in flight: the server stops that move.
async function changeGame(path, body, interrupting = false) {
  const id = page.gameId;
  if (id === null || (page.sending === id && !interrupting)) return false;  // one change of a game at a time
  page.sending = id;
  try {
    const state = await request(`/api/games/${id}/${path}`, body);
    if (page.gameId === id) show(state);
    return true;
  } catch (error) {
    if (page.gameId !== id || error.stopped) return false;
    if (error.status === 409) await reread(id, error.message);
    else if (error.status === 404) forget(error.message);
    else say(error.message);
    return false;
  } finally {
    if (page.sending === id) page.sending = null;
  }
}

async function reread(id, why) {
  try {
    const state = await request(`/api/games/${id}`);
    if (page.gameId !== id) return;
    show(state);
    say(why.includes("out of date") ? "The game had moved on; this is where it stands now." : why);
  } catch (error) {
    if (error.status === 404) forget(error.message); else say(error.message);
  }
}

// The server no longer has the game (it keeps the 64 used last, and none across a restart).
function forget(message) {
  clearTimeout(page.pendingAdvance);
  page.gameId = null;
  history.replaceState(null, "", location.pathname);
  say(`${message} (the server keeps the 64 games used last).`);
}

// The page leaves its game (New game, the tab closed or reloaded): the server stops its searches.
function leaveGame() {
  if (page.gameId === null) return;
  fetch(`/api/games/${encodeURIComponent(page.gameId)}/leave`, {
    method: "POST", headers: { "Content-Type": "application/json" }, body: "{}", keepalive: true,
  }).catch(() => {});
}

function say(text) { $("message").textContent = text || ""; }

// ---- set-up ---------------------------------------------------------------

function seatChooser(seat, kind) {
  const box = document.createElement("div");
  box.className = "seat";
  box.style.borderColor = COLOURS[seat];
  const networks = page.options.networks;
  const kinds = [["human", "you"], ["network", "network"], ["greedy", "greedy"], ["rollout", "rollout"],
                 ["random", "random"]];
  const kindSelect = htmlElement("select", { class: "kind", "data-seat": seat }, ...options(kinds));
  kindSelect.querySelector('option[value="network"]').disabled = !networks.length;
  box.append(
    htmlElement("b", {}, `${NAMES[seat]} (${seat})`),
    kindSelect,
    htmlElement("select", { class: "source network-choice" }, ...options(networks.map(n => [n, n]))),
    htmlElement("label", {}, "simulations ",
                htmlElement("input", { class: "simulations", type: "number", min: 0, max: page.options.max_simulations })),
    htmlElement("label", { title: "random playouts from every leaf, mixed half and half with the network's value" },
                "playouts ", htmlElement("input", { class: "playouts", type: "number", min: 0,
                                                    max: page.options.seat_defaults.max_playouts })),
    htmlElement("label", { title: "thinking time per piece: the search runs until it is spent (0: by simulations)" },
                "ms a piece ", htmlElement("input", { class: "think", type: "number", min: 0, step: 100,
                                                      max: page.options.seat_defaults.max_think_ms })));
  kindSelect.value = kind;
  const refresh = () => {
    const chosen = kindSelect.value;
    box.querySelector(".source").hidden = chosen !== "network";
    box.querySelector(".simulations").parentElement.hidden = chosen !== "network" && chosen !== "rollout";
    box.querySelector(".simulations").value = chosen === "rollout" ? 256 : page.options.seat_defaults.simulations;
    box.querySelector(".playouts").parentElement.hidden = chosen !== "network";
    box.querySelector(".playouts").value = page.options.seat_defaults.playouts;
    box.querySelector(".think").parentElement.hidden = chosen !== "network" && chosen !== "rollout";
    box.querySelector(".think").value = 0;
  };
  kindSelect.addEventListener("change", refresh);
  refresh();
  return box;
}

function seatChoices() {
  return [...document.querySelectorAll("#seat-choices .seat")].map(box => {
    const kind = box.querySelector(".kind").value;
    const choice = { kind };
    if (kind === "network") choice.source = box.querySelector(".source").value;
    if (kind === "network" || kind === "rollout") choice.simulations = +box.querySelector(".simulations").value;
    if (kind === "network") choice.playouts = +box.querySelector(".playouts").value;
    const think = +box.querySelector(".think").value;
    if ((kind === "network" || kind === "rollout") && think > 0) choice.think_ms = Math.round(think);
    return choice;
  });
}

async function newGame(event) {
  if (event) event.preventDefault();
  clearTimeout(page.pendingAdvance);
  leaveGame();
  page.gameId = null;  // whatever still comes back for the old game is dropped
  say("");
  try {
    const state = await request("/api/games", { dim: +$("side").value, seats: seatChoices() });
    page.gameId = state.id;
    history.replaceState(null, "", `#game=${encodeURIComponent(state.id)}`);
    show(state);
  } catch (error) { say(error.message); }
}

// A reload, or a link to a game: the game goes on where it stands.
async function resumeFromAddress() {
  const id = new URLSearchParams(location.hash.slice(1)).get("game");
  if (!id) return;
  page.gameId = id;
  try {
    const state = await request(`/api/games/${encodeURIComponent(id)}`);
    if (page.gameId === id) show(state);
  } catch (error) {
    if (error.status === 404) forget(error.message); else say(error.message);
  }
}

// ---- the game -------------------------------------------------------------

function show(state) {
  page.game = state;
  page.analysis = null;
  $("analysis-values").textContent = "";
  markNetworks($("analysis-network"), state.dim);
  if (page.piece !== null && !(state.placements && state.placements[page.piece])) page.piece = null;
  drawGame();
  const board = $("board");
  board.dataset.moves = state.moves;
  board.dataset.game = state.id;
  board.dataset.turn = state.turn || "over";
  $("undo").disabled = !state.moves;
  renderScores();
  renderHand();
  if (state.over) {
    const best = Math.max(...state.payoffs);
    const winners = state.payoffs.map((p, k) => p === best ? `${NAMES[k]} (${state.seats[k].label})` : null)
      .filter(Boolean);
    $("status").textContent = `Game over: ${winners.join(" and ")} ${winners.length > 1 ? "share" : "wins"}.`;
  } else if (state.turn === "human") {
    $("status").textContent = `Your move as ${NAMES[state.current_player]}: pick a piece, then a cell.`;
  } else {
    $("status").textContent = `${NAMES[state.current_player]} (${state.seats[state.current_player].label}) is thinking...`;
    page.pendingAdvance = setTimeout(advance, 350);
  }
}

async function advance() {
  const state = page.game;
  if (!state || state.id !== page.gameId || state.over || state.turn !== "computer") return;
  await changeGame("advance", { moves: state.moves });
}

function drawGame(hoverCells, hoverOk) {
  const state = page.game;
  drawBoard($("board"), state.dim, state.owners, state.last);
  const cells = $("board").querySelectorAll("rect.cell");
  markStartCorners($("board"), state.dim);
  if (page.analysis) {
    const heat = page.analysis.visits || page.analysis.policy;
    const most = Math.max(...heat, 1e-9);
    heat.forEach((share, tile) => {
      if (share < 0.01) return;  // a label of "0" says nothing
      cells[tile].setAttribute("fill", `rgba(120, 0, 160, ${0.15 + 0.85 * share / most})`);
      const label = svgElement("text", { x: tile % state.dim + 0.08, y: Math.floor(tile / state.dim) + 0.62,
                                         class: "heat" });
      label.textContent = Math.round(100 * share);
      $("board").appendChild(label);
    });
    (page.analysis.placements || []).slice(0, page.analysis.hint ? 1 : undefined).forEach((placement, rank) => {
      const outline = outlinePlacement($("board"), placement.squares, state.dim, rank ? "advice" : "advice best");
      outline.dataset.rank = rank;
    });
  }
  if (page.piece !== null && state.turn === "human") {
    // Where the chosen piece, turned as it is, may go: a dot where its first square would sit.
    const key = shapeKey(page.shape);
    for (const placement of state.placements[page.piece]) {
      if (shapeKey(placement.map(t => [Math.floor(t / state.dim), t % state.dim])) !== key) continue;
      const anchor = Math.min(...placement);
      $("board").appendChild(svgElement("circle", { cx: anchor % state.dim + 0.5, cy: Math.floor(anchor / state.dim) + 0.5,
                                                    r: 0.15, fill: COLOURS[state.current_player], class: "may-go",
                                                    "pointer-events": "none" }));
    }
  }
  for (const tile of hoverCells || []) {
    cells[tile].classList.add(hoverOk ? "hint-ok" : "hint-bad");
    if (hoverOk) cells[tile].setAttribute("fill", COLOURS[state.current_player] + "99");
  }
}

function renderScores() {
  const state = page.game;
  $("scores").replaceChildren(...state.seats.map((seat, k) => {
    const classes = [state.current_player === k ? "to-move" : "", state.out[k] ? "out" : ""].join(" ");
    const swatch = htmlElement("span", { class: "swatch" });
    swatch.style.background = COLOURS[k];
    return htmlElement("tr", { class: classes, "data-player": k },
                       htmlElement("td", {}, swatch), htmlElement("td", {}, NAMES[k]),
                       htmlElement("td", {}, seat.label, seat.seconds_per_piece === null ? ""
                                   : htmlElement("span", { class: "timing" }, ` ${seat.seconds_per_piece.toFixed(2)} s a piece`)),
                       htmlElement("td", { class: "score" }, String(state.scores[k])),
                       htmlElement("td", {}, `${state.hands[k].length} pieces`),
                       htmlElement("td", {}, state.out[k] ? "out" : ""));
  }));
}

// Network names, each marked when it was trained on another side than ``side``.
function markNetworks(select, side) {
  for (const option of select.options) {
    const trained = page.options.trained_sides[option.value];
    option.textContent = trained && trained !== side ? `${option.value} (trained on side ${trained})` : option.value;
  }
}

function markAllNetworks() {
  document.querySelectorAll("#seat-choices .network-choice").forEach(s => markNetworks(s, +$("side").value));
  markNetworks($("analysis-network"), page.game ? page.game.dim : +$("side").value);
}

// Why a piece of the hand cannot be laid now.
function whyUnplaceable(piece) {
  if ((page.game.inside_larger || []).includes(piece)) {
    return "That piece fits nowhere now: wherever it could go, a larger piece of yours could cover the same "
      + "squares and more, and the game, taking squares one by one, would wait for that larger piece; play a larger one.";
  }
  return "That piece fits nowhere now: no place for it touches one of your pieces corner to corner "
    + "without touching one side to side.";
}

function renderHand() {
  const state = page.game;
  const mine = state.turn === "human";
  $("hand-box").hidden = !mine;
  if (!mine) return;
  const hand = $("hand");
  hand.replaceChildren();
  for (const piece of state.hands[state.current_player]) {
    const svg = svgElement("svg", { "data-piece": piece });
    drawShape(svg, page.options.pieces[piece], COLOURS[state.current_player]);
    if (!state.placements[piece]) {
      svg.classList.add("unplaceable");
      svg.appendChild(svgElement("title")).textContent = whyUnplaceable(String(piece));
    }
    if (String(piece) === page.piece) svg.classList.add("selected");
    svg.addEventListener("click", () => choosePiece(String(piece)));
    hand.appendChild(svg);
  }
  renderPreview();
}

function choosePiece(piece) {
  if (!page.game.placements[piece]) { say(whyUnplaceable(piece)); return; }
  say("");
  page.piece = piece;
  page.shape = normalise(page.options.pieces[piece]);
  renderHand();
}

function renderPreview() {
  const preview = $("preview");
  if (page.piece === null) { preview.replaceChildren(); preview.dataset.shape = ""; return; }
  drawShape(preview, page.shape, COLOURS[page.game.current_player]);
  preview.dataset.shape = shapeKey(page.shape);
  drawGame();
}

function turnPiece(how) {
  if (page.piece === null) return;
  page.shape = how(page.shape);
  renderPreview();
}

// The squares under the pointer for the chosen piece, and whether they are a legal placement.
function hovered(tile) {
  if (page.piece === null || page.game.turn !== "human") return null;
  const cells = cellsAt(page.shape, tile, page.game.dim);
  if (!cells) return null;
  const key = cells.join(",");
  return { cells, ok: page.game.placements[page.piece].some(p => p.join(",") === key) };
}

async function placeAt(tile) {
  if (!page.game || page.game.turn !== "human") return;
  if (page.piece === null) { say("Pick one of your pieces first."); return; }
  const hover = hovered(tile);
  if (!hover) { say("The piece cannot go there: it would leave the board."); return; }
  if (!hover.ok) { say("The piece cannot go there."); return; }
  const piece = page.piece;
  page.piece = null;
  say("");
  if (!await changeGame("place", { moves: page.game.moves, tiles: hover.cells }) && page.game.turn === "human"
      && page.game.placements[piece]) {
    page.piece = piece;  // refused: the piece stays in hand, chosen
    renderHand();
  }
}

async function undo() {
  clearTimeout(page.pendingAdvance);
  await changeGame("undo", { moves: page.game.moves }, true);
}

async function analyse(hint) {
  if (!page.game) return;
  const network = $("analysis-network").value;
  if (!network) { say("No network to analyse with: start tavrin-play with --network or --run."); return; }
  const simulations = hint === true ? Math.max(+$("analysis-simulations").value, HINT_SIMULATIONS)
                                    : +$("analysis-simulations").value;
  $("analysis-values").textContent = "thinking...";
  $("advice").replaceChildren();
  const id = page.gameId;
  const asked = ++page.analysisAsked;  // a newer analysis replaces this one, here and on the server
  try {
    const view = await request(`/api/games/${id}/analyse`, { network, simulations });
    if (asked !== page.analysisAsked) return;
    if (page.gameId !== id || view.moves !== page.game.moves) return;  // the game moved on meanwhile
    page.analysis = { ...view, hint: hint === true };
    drawGame();
    const values = view.values.map((v, k) => `${NAMES[k]} ${v.toFixed(2)}`).join(", ");
    $("analysis-values").textContent = view.visits
      ? `The search's whole pieces after ${view.simulations} simulations (outlined; share of the search, and the `
        + `expected payoff of ${NAMES[view.player]}); the network's expected payoffs: ${values}`
      : `The network's move probabilities per square (shares under 1% not shown); expected payoffs: ${values}`;
    const shown = page.analysis.hint ? view.placements.slice(0, 1) : view.placements || [];
    const dim = page.game.dim;
    const square = t => `(${Math.floor(t / dim)}, ${t % dim})`;  // row, column
    $("advice").replaceChildren(...shown.map(p => htmlElement("li", {},
      `piece ${p.piece} on ${p.squares.map(square).join(" ")}: ${Math.round(100 * p.share)}% of the search, `
      + `expected payoff ${p.value.toFixed(2)}`)));
  } catch (error) {
    if (asked !== page.analysisAsked || error.stopped) return;
    $("analysis-values").textContent = "";
    say(error.message);
  }
}

// ---- watching saved games -----------------------------------------------

// Kept across tabs: the file, game and position chosen stay as they were.
const replay = { games: [], game: null, loaded: false };

async function loadReplayFiles() {
  if (replay.loaded) return;
  const { files } = await request("/api/replays");
  replay.loaded = true;
  $("replay-file").replaceChildren(...options(files.map(f => [f.name, `${f.name} (${f.games})`])));
  // The files come the latest written first.
  if (files.length) await loadReplayFile();
  else $("replay-caption").textContent = "No saved games: give --run or --games.";
}

async function loadReplayFile() {
  replay.games = [];
  replay.game = null;
  $("replay-game").replaceChildren();
  $("replay-board").replaceChildren();
  $("replay-caption").textContent = "";
  $("replay-position").textContent = "";
  $("replay-slider").max = 0;
  try {
    const { games } = await request(`/api/replays/${encodeURIComponent($("replay-file").value)}`);
    replay.games = games;
  } catch (error) {
    $("replay-caption").textContent = `This file cannot be shown: ${error.message}`;
    return;
  }
  $("replay-game").replaceChildren(...options(replay.games.map((g, k) => [k, `game ${k + 1}`])));
  chooseReplayGame();
}

// Slider positions: squares laid after each step, by whole pieces or square by square.
function replaySteps(game) {
  if ($("replay-squares").checked) return game.moves.map((_, k) => k + 1);
  let laid = 0;
  return game.pieces.map(([, squares]) => (laid += squares.length));
}

function chooseReplayGame() {
  replay.game = replay.games[+$("replay-game").value];
  if (!replay.game) return;
  const steps = replaySteps(replay.game);
  $("replay-slider").max = steps.length;
  $("replay-slider").value = steps.length;
  const seats = replay.game.seats ? ` (${replay.game.seats.join(", ")})` : "";
  const generation = replay.game.generation !== null && replay.game.generation !== undefined
    ? `generation ${replay.game.generation}, ` : "";
  $("replay-caption").textContent = `${generation}side ${replay.game.dim}${seats}; payoffs `
    + replay.game.payoffs.map((p, k) => `${NAMES[k]} ${(+p).toFixed(2)}`).join(", ");
  drawReplay();
}

function drawReplay() {
  const game = replay.game;
  if (!game) return;
  const steps = replaySteps(game);
  const step = +$("replay-slider").value;
  const count = step ? steps[step - 1] : 0;
  const board = $("replay-board");
  drawBoard(board, game.dim, ownersAfter(game.dim, game.moves, count), []);
  markStartCorners(board, game.dim);
  if (count) {
    const byPiece = !$("replay-squares").checked;
    const last = byPiece ? game.pieces[step - 1][1] : [game.moves[count - 1][1]];
    outlinePlacement(board, last, game.dim, "last-piece");
  }
  const unit = $("replay-squares").checked ? "squares" : "pieces";
  $("replay-position").textContent = `${step} / ${steps.length} ${unit}`;
}

function stepReplay(by) {
  const slider = $("replay-slider");
  slider.value = Math.max(0, Math.min(+slider.max, +slider.value + by));
  drawReplay();
}

// ---- following a run ------------------------------------------------------

const OPPONENTS = [["random", "vs random"], ["greedy", "vs greedy"], ["random_side20", "vs random, side 20"],
                   ["greedy_side20", "vs greedy, side 20"], ["rollout", "vs rollout"]];

async function refreshRun() {
  try {
    const { run, rows } = await request("/api/metrics");
    $("run-name").textContent = `${run}: ${rows.length} generations recorded (refreshed every 5 s)`;
    drawChart($("strength-chart"), rows, OPPONENTS.map(([key, label]) => ({
      column: `vs_${key}_mean_payoff`, error: `vs_${key}_stderr`, label })), { parity: 0.25, yTitle: "mean payoff" });
    drawPanels($("loss-chart"), rows, [["policy_loss", "policy"], ["value_loss", "value"],
                                       ["ownership_loss", "ownership"], ["score_loss", "score"]]
      .map(([column, label]) => ({ column, label })));
    drawChart($("speed-chart"), rows, [{ column: "positions_per_s", label: "positions/s" }],
              { yTitle: "positions/s", fromZero: true });
  } catch (error) { $("run-name").textContent = error.message; }
}

// ---- wiring ---------------------------------------------------------------

async function start() {
  page.options = await request("/api/options");
  const choices = $("seat-choices");
  ["human", page.options.networks.length ? "network" : "greedy", "greedy", "greedy"]
    .forEach((kind, seat) => choices.appendChild(seatChooser(seat, kind)));
  $("side").min = page.options.sides[0];
  $("side").max = page.options.sides[1];
  $("side").value = page.options.default_side;
  $("analysis-network").replaceChildren(...options(page.options.networks.map(n => [n, n])));
  markAllNetworks();
  $("side").addEventListener("input", markAllNetworks);
  $("search-limit").textContent = `A computer move or an analysis searches for at most `
    + `${page.options.search_time_limit_s} s; a longer one is stopped.`;
  window.addEventListener("pagehide", leaveGame);
  $("setup").addEventListener("submit", newGame);
  $("rotate").addEventListener("click", () => turnPiece(turned));
  $("flip").addEventListener("click", () => turnPiece(flipped));
  $("undo").addEventListener("click", undo);
  $("analyse").addEventListener("click", () => analyse(false));
  $("hint").addEventListener("click", () => analyse(true));
  $("clear-analysis").addEventListener("click", () => {
    page.analysis = null;
    $("advice").replaceChildren();
    drawGame();
  });
  document.addEventListener("keydown", event => {
    if (event.target.tagName === "INPUT" || event.target.tagName === "SELECT") return;
    if (event.key === "r" || event.key === "R") turnPiece(turned);
    if (event.key === "f" || event.key === "F") turnPiece(flipped);
  });
  const board = $("board");
  board.addEventListener("mousemove", event => {
    const tile = event.target.dataset && event.target.dataset.tile;
    if (tile === undefined || !page.game) return;
    const hover = hovered(+tile);
    drawGame(hover ? hover.cells : null, hover && hover.ok);
  });
  board.addEventListener("mouseleave", () => page.game && drawGame());
  board.addEventListener("click", event => {
    const tile = event.target.dataset && event.target.dataset.tile;
    if (tile !== undefined) placeAt(+tile);
  });
  for (const tab of document.querySelectorAll("nav .tab")) {
    tab.addEventListener("click", () => {
      document.querySelectorAll("nav .tab, .panel").forEach(e => e.classList.remove("active"));
      tab.classList.add("active");
      $(tab.dataset.tab).classList.add("active");
      if (tab.dataset.tab === "watch") loadReplayFiles().catch(error => say(error.message));
      if (tab.dataset.tab === "run") refreshRun();
    });
  }
  $("replay-file").addEventListener("change", loadReplayFile);
  $("replay-game").addEventListener("change", chooseReplayGame);
  $("replay-slider").addEventListener("input", drawReplay);
  $("replay-back").addEventListener("click", () => stepReplay(-1));
  $("replay-forward").addEventListener("click", () => stepReplay(1));
  $("replay-squares").addEventListener("change", () => {
    // The same position counted the other way: the squares laid so far stay laid.
    const game = replay.game;
    if (!game) return;
    const step = +$("replay-slider").value;
    const wasSquares = !$("replay-squares").checked;
    let cumulative = 0;
    const pieceEnds = game.pieces.map(([, squares]) => (cumulative += squares.length));
    const laid = wasSquares ? step : (step ? pieceEnds[step - 1] : 0);
    $("replay-slider").max = replaySteps(game).length;
    $("replay-slider").value = wasSquares ? pieceEnds.filter(end => end <= laid).length : laid;
    drawReplay();
  });
  if (page.options.run) {
    $("run-tab").hidden = false;
    setInterval(() => { if ($("run").classList.contains("active")) refreshRun(); }, 5000);
  }
  await resumeFromAddress();
  document.body.dataset.ready = "1";
}

start().catch(error => say(error.message));
