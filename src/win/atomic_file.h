// Replacing a file's contents as one step.
#pragma once
#include <string>

namespace orlimo {

// Replaces the file at path with data: writes a temporary file beside it,
// flushes it and moves it over the target. On failure the target is left
// as it was and the temporary file removed; a read-only target is not
// replaced.
bool ReplaceFileAtomically(const std::string& path, const std::string& data);

}  // namespace orlimo
