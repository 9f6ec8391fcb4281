#pragma once

#include <string>
#include <string_view>

namespace tavrin {

// Writes to the process's standard output through C stdio and flushes, so
// that the text stays in order with the printed board.
void write_stdout(std::string_view text);

// `text` in double quotes with the characters inside escaped as in a string
// literal (\" \\ \n \r \t, other control characters as \u{..}).
std::string quoted(std::string_view text);

}  // namespace tavrin
