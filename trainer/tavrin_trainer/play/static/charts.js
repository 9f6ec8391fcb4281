// A run's metrics.csv rows drawn with Plotly (the copy inside the plotly
// Python package, served by the app): real axes, hover values, standard
// errors as error bars, and the parity line where payoffs are drawn.
"use strict";

const SERIES_COLOURS = ["#d6402f", "#2f6fd6", "#e8b420", "#2fa351", "#7a3fb0"];

function seriesPoints(rows, column, error) {
  const kept = rows.filter(row => row[column] !== "" && row[column] !== undefined);
  return {
    x: kept.map(row => +row.generation), y: kept.map(row => +row[column]),
    error: error ? kept.map(row => +row[error] || 0) : null,
  };
}

function noPlotly(element) {
  element.replaceChildren(htmlElement("p", {}, "The curves need the plotly package: pip install plotly."));
}

// One chart: `series` of {column, label, error}; options.parity draws that
// horizontal line, options.yTitle names the axis.
function drawChart(element, rows, series, options) {
  if (!window.Plotly) { noPlotly(element); return; }
  const traces = series.map((s, k) => {
    const points = seriesPoints(rows, s.column, s.error);
    return {
      x: points.x, y: points.y, name: s.label, mode: "lines+markers", line: { color: SERIES_COLOURS[k % 5] },
      error_y: points.error ? { type: "data", array: points.error, visible: true, thickness: 1 } : undefined,
      hovertemplate: `${s.label}: %{y:.3f}<extra>generation %{x}</extra>`,
    };
  }).filter(trace => trace.x.length);
  const layout = {
    margin: { l: 60, r: 20, t: 10, b: 45 }, xaxis: { title: { text: "generation" } },
    yaxis: { title: { text: options.yTitle || "" }, rangemode: options.fromZero ? "tozero" : "normal" },
    shapes: options.parity === undefined ? [] : [{
      type: "line", xref: "paper", x0: 0, x1: 1, y0: options.parity, y1: options.parity,
      line: { dash: "dash", color: "#999", width: 1 }, name: "parity",
    }],
    annotations: options.parity === undefined ? [] : [{
      xref: "paper", x: 1, y: options.parity, text: "parity", showarrow: false, yanchor: "bottom", xanchor: "right",
      font: { color: "#777", size: 11 },
    }],
    legend: { orientation: "h", y: -0.25 }, hovermode: "x unified",
  };
  if (!traces.length) layout.annotations.push({ xref: "paper", yref: "paper", x: 0.5, y: 0.5,
                                                text: "nothing recorded yet", showarrow: false });
  Plotly.react(element, traces, layout, { displaylogo: false, responsive: true });
}

// Several series, each in a panel of its own with its own y axis.
function drawPanels(element, rows, series) {
  if (!window.Plotly) { noPlotly(element); return; }
  const traces = series.map((s, k) => ({
    ...seriesPoints(rows, s.column, null), name: s.label, mode: "lines", line: { color: SERIES_COLOURS[k % 5] },
    xaxis: `x${k ? k + 1 : ""}`, yaxis: `y${k ? k + 1 : ""}`,
    hovertemplate: `${s.label}: %{y:.4f}<extra>generation %{x}</extra>`,
  }));
  const layout = { grid: { rows: Math.ceil(series.length / 2), columns: 2, pattern: "independent" },
                   margin: { l: 60, r: 20, t: 30, b: 40 }, showlegend: false, annotations: [] };
  series.forEach((s, k) => {
    layout[`yaxis${k ? k + 1 : ""}`] = { title: { text: s.label } };
    layout[`xaxis${k ? k + 1 : ""}`] = { title: { text: "generation" } };
  });
  Plotly.react(element, traces, layout, { displaylogo: false, responsive: true });
}
