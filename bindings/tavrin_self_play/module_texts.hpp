#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The texts of the module tavrin_self_play (its exception type, argument
// errors in the host's own wording): callers, worker logs and tests print,
// parse or match them, so changing one breaks them; they live here so that
// none is changed by accident.
namespace tavrin::output {

inline constexpr const char* kInternalErrorName = "tavrin_self_play.InternalError";

inline constexpr const char* kInternalErrorDoc =
    "An impossible state inside the game or the search, or a config object that cannot be read.\n"
    "Derived from BaseException so that `except Exception` does not catch it.";

inline constexpr const char* kInitialisedTwice =
    "tavrin_self_play may only be initialised once per interpreter process";

inline constexpr const char* kInvalidRepresentation = "Invalid representation type";
inline constexpr std::string_view kIdArgumentPrefix = "argument 'id': ";
inline constexpr const char* kIdAboveRange = "signed integer is greater than maximum";
inline constexpr const char* kIdBelowRange = "signed integer is less than minimum";
inline constexpr const char* kStrNotNumbers = "a str cannot be read as a sequence of numbers";

// printf formats for PyErr_Format, in the host's own wording.
inline constexpr const char* kNotASequenceFormat = "'%.200s' object cannot be converted to 'Sequence'";

inline constexpr const char* kMissingArgumentsFormat = "%s() missing %zu required argument%s: %s";
inline constexpr const char* kTooManyPositionalFormat = "%s() takes %zd positional arguments but %zd were given";
inline constexpr const char* kUnexpectedKeywordFormat = "%s() got an unexpected keyword argument '%s'";
inline constexpr const char* kDuplicateArgumentFormat = "%s() got multiple values for argument '%s'";

}  // namespace tavrin::output
