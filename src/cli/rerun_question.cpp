#include "cli/rerun_question.h"

#include <cctype>
#include <string>

namespace drovanta {

RerunAnswer AskWhetherNewOnly(long messagesThere, std::FILE* in, std::FILE* out) {
  for (;;) {
    std::fprintf(out,
                 "The destination already holds %ld of these messages. Add only the new ones? "
                 "[Y/n/c] ",
                 messagesThere);
    std::fflush(out);
    char line[64];
    if (std::fgets(line, sizeof line, in) == nullptr) {
      std::fputc('\n', out);
      return RerunAnswer::Cancel;
    }
    std::string answer;
    for (const char* c = line; *c != '\0' && *c != '\n'; ++c) {
      if (!std::isspace(static_cast<unsigned char>(*c)))
        answer += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    if (answer.empty() || answer == "y" || answer == "yes") return RerunAnswer::NewOnly;
    if (answer == "n" || answer == "no") return RerunAnswer::All;
    if (answer == "c" || answer == "cancel") return RerunAnswer::Cancel;
  }
}

}  // namespace drovanta
