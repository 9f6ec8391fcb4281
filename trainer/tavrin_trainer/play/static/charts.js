// Line charts of a run's metrics.csv rows, as SVG: one line per series, each
// point with its standard error as a bar when the series has one.
"use strict";

const WIDTH = 720, HEIGHT = 260, PAD = { left: 48, right: 150, top: 12, bottom: 28 };

function drawChart(svg, rows, series, options) {
  svg.setAttribute("viewBox", `0 0 ${WIDTH} ${HEIGHT}`);
  svg.replaceChildren();
  const points = series.map(s => rows
    .filter(row => row[s.column] !== "" && row[s.column] !== undefined)
    .map(row => ({ x: +row.generation, y: +row[s.column], e: s.error ? +row[s.error] || 0 : 0 })));
  const all = points.flat();
  if (!all.length) {
    svg.appendChild(svgElement("text", { x: 20, y: 40 })).textContent = "nothing recorded yet";
    return;
  }
  const xs = all.map(p => p.x), ys = all.flatMap(p => [p.y - p.e, p.y + p.e]).concat(options.extraY || []);
  const [x0, x1] = [Math.min(...xs), Math.max(Math.max(...xs), Math.min(...xs) + 1)];
  let [y0, y1] = [Math.min(...ys), Math.max(...ys)];
  if (y1 - y0 < 1e-9) { y0 -= 0.5; y1 += 0.5; }
  const X = x => PAD.left + (x - x0) / (x1 - x0) * (WIDTH - PAD.left - PAD.right);
  const Y = y => HEIGHT - PAD.bottom - (y - y0) / (y1 - y0) * (HEIGHT - PAD.top - PAD.bottom);
  const axis = { stroke: "#888", "stroke-width": 1 };
  svg.appendChild(svgElement("line", { x1: PAD.left, y1: Y(y0), x2: X(x1), y2: Y(y0), ...axis }));
  svg.appendChild(svgElement("line", { x1: PAD.left, y1: Y(y0), x2: PAD.left, y2: Y(y1), ...axis }));
  for (const [value, anchor] of [[y0, "end"], [y1, "end"]]) {
    svg.appendChild(svgElement("text", { x: PAD.left - 4, y: Y(value) + 4, "text-anchor": anchor, "font-size": 11 }))
      .textContent = value.toPrecision(3);
  }
  svg.appendChild(svgElement("text", { x: X(x1), y: HEIGHT - 8, "text-anchor": "end", "font-size": 11 }))
    .textContent = `generation ${x1}`;
  if (options.parity !== undefined) {
    svg.appendChild(svgElement("line", { x1: PAD.left, x2: X(x1), y1: Y(options.parity), y2: Y(options.parity),
                                         stroke: "#999", "stroke-dasharray": "4 3" }));
  }
  series.forEach((s, k) => {
    const colour = s.colour || ["#d6402f", "#2f6fd6", "#e8b420", "#2fa351", "#7a3fb0"][k % 5];
    const line = points[k];
    if (!line.length) return;
    svg.appendChild(svgElement("polyline", { points: line.map(p => `${X(p.x)},${Y(p.y)}`).join(" "),
                                             fill: "none", stroke: colour, "stroke-width": 1.5,
                                             "data-series": s.column }));
    for (const p of line) {
      if (p.e) svg.appendChild(svgElement("line", { x1: X(p.x), x2: X(p.x), y1: Y(p.y - p.e), y2: Y(p.y + p.e),
                                                     stroke: colour, "stroke-width": 1 }));
    }
    svg.appendChild(svgElement("text", { x: WIDTH - PAD.right + 8, y: PAD.top + 14 * (k + 1), fill: colour,
                                         "font-size": 11 })).textContent = s.label;
  });
}
