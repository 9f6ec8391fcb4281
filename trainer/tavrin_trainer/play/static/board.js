// Drawing boards and pieces as SVG, and turning piece shapes.
"use strict";

const COLOURS = ["#d6402f", "#2f6fd6", "#e8b420", "#2fa351"];
const NAMES = ["red", "blue", "yellow", "green"];
const EMPTY = "#f2f2f2";
const SVG_NS = "http://www.w3.org/2000/svg";

function svgElement(name, attributes) {
  const element = document.createElementNS(SVG_NS, name);
  for (const [key, value] of Object.entries(attributes || {})) element.setAttribute(key, value);
  return element;
}

// An HTML element whose attributes and text are set as data, never parsed as
// markup: names of files, networks and players come from outside the page.
// Children are elements or strings (text nodes).
function htmlElement(name, attributes, ...children) {
  const element = document.createElement(name);
  for (const [key, value] of Object.entries(attributes || {})) {
    if (value !== false && value !== null && value !== undefined) element.setAttribute(key, value === true ? "" : value);
  }
  element.append(...children);
  return element;
}

function options(values) {
  return values.map(([value, label]) => htmlElement("option", { value }, label));
}

// Squares of a shape as [row, column] pairs moved to row 0 and column 0, sorted.
function normalise(cells) {
  const top = Math.min(...cells.map(c => c[0]));
  const left = Math.min(...cells.map(c => c[1]));
  return cells.map(([r, c]) => [r - top, c - left]).sort((a, b) => a[0] - b[0] || a[1] - b[1]);
}

const turned = cells => normalise(cells.map(([r, c]) => [c, -r]));   // a quarter turn
const flipped = cells => normalise(cells.map(([r, c]) => [r, -c]));  // mirrored
const shapeKey = cells => normalise(cells).map(c => c.join(",")).join(";");

// The board cells a shape covers when its first square sits on `tile`, or
// null when it leaves the board.
function cellsAt(shape, tile, dim) {
  const row = Math.floor(tile / dim), column = tile % dim;
  const [r0, c0] = shape[0];
  const out = [];
  for (const [r, c] of shape) {
    const rr = row + r - r0, cc = column + c - c0;
    if (rr < 0 || cc < 0 || rr >= dim || cc >= dim) return null;
    out.push(rr * dim + cc);
  }
  return out.sort((a, b) => a - b);
}

// A board of `dim` cells a side, one rect per cell (data-tile, data-owner).
function drawBoard(svg, dim, owners, highlight) {
  svg.setAttribute("viewBox", `0 0 ${dim} ${dim}`);
  svg.replaceChildren();
  const marked = new Set(highlight || []);
  for (let tile = 0; tile < dim * dim; tile++) {
    const owner = owners[tile];
    const rect = svgElement("rect", {
      x: tile % dim, y: Math.floor(tile / dim), width: 1, height: 1, class: "cell",
      fill: owner >= 0 ? COLOURS[owner] : EMPTY, "data-tile": tile, "data-owner": owner,
    });
    if (marked.has(tile)) rect.classList.add("last");
    svg.appendChild(rect);
  }
}

// The outline of a placement: every side of its squares that no other of its squares shares.
function outlinePlacement(svg, squares, dim, className) {
  const inside = new Set(squares);
  const path = [];
  for (const tile of squares) {
    const row = Math.floor(tile / dim), column = tile % dim;
    if (row === 0 || !inside.has(tile - dim)) path.push(`M${column},${row}h1`);
    if (row === dim - 1 || !inside.has(tile + dim)) path.push(`M${column},${row + 1}h1`);
    if (column === 0 || !inside.has(tile - 1)) path.push(`M${column},${row}v1`);
    if (column === dim - 1 || !inside.has(tile + 1)) path.push(`M${column + 1},${row}v1`);
  }
  const outline = svgElement("path", { d: path.join(""), class: className, "pointer-events": "none" });
  svg.appendChild(outline);
  return outline;
}

// A small mark in each start corner, in its player's colour.
function markStartCorners(svg, dim) {
  [[0, 0], [0, dim - 1], [dim - 1, dim - 1], [dim - 1, 0]].forEach(([row, column], player) => {
    svg.appendChild(svgElement("circle", { cx: column + 0.5, cy: row + 0.5, r: 0.18, class: "start-corner",
                                           fill: "none", stroke: COLOURS[player], "stroke-width": 0.08,
                                           "pointer-events": "none" }));
  });
}

// A piece shape drawn small, in `colour`.
function drawShape(svg, shape, colour) {
  const rows = Math.max(...shape.map(c => c[0])) + 1, columns = Math.max(...shape.map(c => c[1])) + 1;
  const side = Math.max(rows, columns, 3);
  svg.setAttribute("viewBox", `${-(side - columns) / 2 - 0.2} ${-(side - rows) / 2 - 0.2} ${side + 0.4} ${side + 0.4}`);
  svg.replaceChildren();
  for (const [r, c] of shape) {
    svg.appendChild(svgElement("rect", { x: c, y: r, width: 1, height: 1, fill: colour, stroke: "#fff",
                                         "stroke-width": 0.06 }));
  }
}

// Owners after the first `count` moves of a list of [player, tile].
function ownersAfter(dim, moves, count) {
  const owners = new Array(dim * dim).fill(-1);
  for (const [player, tile] of moves.slice(0, count)) owners[tile] = player;
  return owners;
}
