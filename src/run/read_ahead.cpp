#include "run/read_ahead.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>

namespace drovanta {

void ReadAhead::announceAfter(long row) {
  const long last = std::min(row + kFilesAhead, rowCount_ - 1);
  for (long ahead = std::max(announcedUpTo_, row + 1); ahead <= last; ++ahead) {
    if (inMemoryRun_ >= kInMemoryBeforeQuiet && ++sinceProbe_ < kProbeSpacing) continue;
    sinceProbe_ = 0;
    const std::string path = MessagePathOfRow(rows_.rowText(ahead));
    if (path.empty()) continue;
    inMemoryRun_ = AnnounceRead(path, kBytesAhead) ? inMemoryRun_ + 1 : 0;
  }
  announcedUpTo_ = std::max(announcedUpTo_, last + 1);
}

bool AnnounceRead(const std::string& path, long long bytes) {
#ifdef _WIN32
  (void)path;
  (void)bytes;
  return true;
#else
  // Non-blocking, so that a named pipe among the messages cannot stall the run here.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return true;
  // A read that must not wait for the disk tells whether the start is in memory.
  char first = 0;
  iovec buffer{&first, 1};
  const bool inMemory = ::preadv2(fd, &buffer, 1, 0, RWF_NOWAIT) >= 0;
  if (!inMemory) ::posix_fadvise(fd, 0, static_cast<off_t>(bytes), POSIX_FADV_WILLNEED);
  ::close(fd);
  return inMemory;
#endif
}

}  // namespace drovanta
