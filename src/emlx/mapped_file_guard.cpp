#include "emlx/mapped_file_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace drovanta {

namespace {

// The watched mappings; a signal handler reads them, so they are lock-free atomics only.
struct WatchedRange {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::size_t> size{0};
  std::atomic<bool> cut{false};
  std::atomic<bool> taken{false};
};

constexpr int kSlots = 64;
WatchedRange gRanges[kSlots];
std::uintptr_t gPageSize = 4096;
struct sigaction gPrevious {};

void onBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (WatchedRange& range : gRanges) {
    const std::uintptr_t begin = range.begin.load();
    const std::size_t size = range.size.load();
    if (begin == 0 || address < begin || address >= begin + size) continue;
    // The rest of the mapping, from the page that failed, becomes zeros: the read goes on and
    // the reader learns from cut() that the file changed under it.
    const std::uintptr_t page = address & ~(gPageSize - 1);
    ::mmap(reinterpret_cast<void*>(page), begin + size - page, PROT_READ,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    range.cut.store(true);
    return;
  }
  // Not a watched file: what would have happened without this handler.
  if ((gPrevious.sa_flags & SA_SIGINFO) != 0 && gPrevious.sa_sigaction != nullptr) {
    gPrevious.sa_sigaction(signal, info, context);
    return;
  }
  if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN &&
      gPrevious.sa_handler != nullptr) {
    gPrevious.sa_handler(signal);
    return;
  }
  ::signal(SIGBUS, SIG_DFL);
  ::raise(SIGBUS);
}

void installHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    gPageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &gPrevious);
  });
}

}  // namespace

MappedFileGuard::MappedFileGuard(const void* begin, std::size_t size) {
  installHandler();
  for (int i = 0; i < kSlots; ++i) {
    bool free = false;
    if (gRanges[i].taken.compare_exchange_strong(free, true)) {
      gRanges[i].cut.store(false);
      gRanges[i].size.store(size);
      gRanges[i].begin.store(reinterpret_cast<std::uintptr_t>(begin));
      slot_ = i;
      return;
    }
  }
}

MappedFileGuard::~MappedFileGuard() {
  if (slot_ < 0) return;
  gRanges[slot_].begin.store(0);
  gRanges[slot_].size.store(0);
  gRanges[slot_].taken.store(false);
}

bool MappedFileGuard::cut() const {
  return slot_ >= 0 && gRanges[slot_].cut.load();
}

}  // namespace drovanta
