#pragma once

#include <cstdio>

namespace drovanta {

enum class RerunAnswer { NewOnly, All, Cancel };

// Asks, as the window does, "The destination already holds N of these messages. Add only the new
// ones? [Y/n/c]" on `out` and reads the answer from `in`: an empty line or y/yes adds only the
// new ones, n/no adds them all again, c/cancel (or the end of input, or a read cut short by a
// signal) converts nothing. Anything else asks again.
RerunAnswer AskWhetherNewOnly(long messagesThere, std::FILE* in, std::FILE* out);

}  // namespace drovanta
