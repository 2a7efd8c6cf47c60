#include "mbox/mailbox_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <string_view>

namespace drovanta {

MaybeFailure NotAnMbox(int fd, const std::string& path) {
  char start[5] = {};
  const ssize_t got = ::pread(fd, start, sizeof start, 0);
  if (got <= 0) return std::nullopt;
  if (std::string_view(start, static_cast<std::size_t>(got)) == "From ") return std::nullopt;
  return Failure{FailureCode::MailboxNotMbox, path,
                 "not an mbox file (it does not start with \"From \"); left as it was"};
}

}  // namespace drovanta
