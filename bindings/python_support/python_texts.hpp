#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How both extension modules render Python errors and report settings objects
// they cannot read: callers, worker logs and tests print, parse or match them,
// so changing one breaks them; they live here so that none is changed by
// accident.
namespace tavrin::output {

inline constexpr std::string_view kConfigFieldError = "failed to extract field Config.";
inline constexpr const char* kPropagatingPythonError = "Python exception propagating to the caller";
inline constexpr const char* kFetchWithoutError = "attempted to fetch exception but none was set";

// How a failed evaluation is rendered: "Type: message" on the training
// game's line, the debug form on the test games' lines.
inline constexpr const char* kUnknownTypeName = "<unknown>";

inline constexpr const char* kStrFailed = "<exception str() failed>";
inline constexpr const char* kTypeReprFailed = "<type repr() failed>";
inline constexpr const char* kValueReprFailed = "<exception repr() failed>";
inline constexpr std::string_view kTracebackHeader = "Traceback (most recent call last):\n";
inline constexpr const char* kTracebackFailed = "<traceback formatting failed>\n";

inline std::string some_traceback(std::string_view quoted_traceback) {
  return "Some(" + std::string(quoted_traceback) + ")";
}

inline constexpr std::string_view kNoTraceback = "None";

}  // namespace tavrin::output
