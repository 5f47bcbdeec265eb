#pragma once

#include <string>

namespace pagewren {

// File helpers for the settings files: whole-file reads, replacement that never leaves a
// truncated file behind, and keeping a damaged file aside instead of overwriting it.

// The whole content of the file. Throws Error("Cannot open file \"<path>\". <reason>") when it
// cannot be opened or read.
std::string readWholeFile(const std::string& path);

// Replaces the file by bytes: they go to a temporary file in the same folder, are flushed to disk
// and then renamed over the file. On failure the previous file is left as it was and
// Error("Cannot create file \"<path>\". <reason>") is thrown. A read-only file is not replaced.
void writeFileAtomically(const std::string& path, const std::string& bytes);

// Renames the file to path + ".bad" (path + ".bad2", ".bad3", ... when that name is taken) so a
// new file can start in its place without destroying it. Returns the new name, or "" when the file
// could not be moved.
std::string keepAside(const std::string& path);

} // namespace pagewren
