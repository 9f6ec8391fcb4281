#pragma once

#include <string>
#include <vector>

#include "engine/pieces.hpp"

namespace tavrin::testing {

// Parses "XX/.X" style matrices (rows separated by '/').
inline CellMatrix matrix(const std::string& text) {
  CellMatrix rows(1);
  for (char symbol : text) {
    if (symbol == '/') rows.emplace_back();
    else rows.back().push_back(symbol == 'X');
  }
  return rows;
}

inline std::string render(const CellMatrix& rows) {
  std::string text;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) text += '/';
    for (bool square : rows[r]) text += square ? 'X' : '.';
  }
  return text;
}

}  // namespace tavrin::testing
