#pragma once
// The few file operations the portable code needs, by path in the system's
// single-byte code page. Paths use Windows separators; the POSIX backend, which
// exists for tests, reads a backslash as a slash.
#include <string>

// The whole content of a file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& content);

// Replaces the file's content as one step: the new content goes to a temporary
// file beside it, which replaces the old file only once it has been written and
// flushed completely. On failure the old file is left as it was and false is
// returned.
bool ReplaceFileContent(const std::string& path, const std::string& content);

bool DirectoryExists(const std::string& path);
// Creates the directory with every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

// The temporary file that ReplaceFileContent writes before the replacement.
std::string TemporaryNameFor(const std::string& path);
