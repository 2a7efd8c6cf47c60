#pragma once

#include <string>
#include <string_view>

#include "shellutil/failure.h"

namespace drovanta {

// The separator of the paths the program hands around: "\" on Windows, "/" elsewhere.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The text after the last separator; the whole path when it holds none; "" for "".
std::string GetFileName(const std::string& path, char separator = kPathSeparator);

// The path up to and including its last separator; "" when it holds none.
std::string GetFolderPath(const std::string& path, char separator = kPathSeparator);

// The path with one separator at its end (never doubled); "" becomes the separator alone.
std::string AddSeparator(const std::string& path, char separator = kPathSeparator);

// An absolute form of a path given on a command line: relative to the working folder,
// "." and ".." folded away lexically, symbolic links left unresolved. Fails (PathUnresolvable)
// for "" and for a relative path when the working folder cannot be found (removed meanwhile).
Outcome<std::string> MakeAbsolutePath(const std::string& path);

// A path, or a text holding paths, as shown to the user: control characters (C0, DEL, and C1 in
// UTF-8) written as "\n", "\t", "\r" or "\xHH", and so is every byte that is not part of
// well-formed UTF-8, so that a file name cannot move the cursor, forge a line of a report or send
// a terminal escape sequence. Every other byte is kept.
std::string PrintableText(std::string_view path);

}  // namespace drovanta
