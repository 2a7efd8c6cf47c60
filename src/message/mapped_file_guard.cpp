#include "message/mapped_file_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace drovanta {

// One watched mapping; the signal handler reads it, so it holds lock-free atomics only.
struct WatchedRange {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::size_t> size{0};
  std::atomic<bool> cut{false};
  std::atomic<bool> taken{false};
};

namespace {

// Slots come in blocks chained one after the other, a new block when every slot is taken, so
// that any number of mappings at once is watched. Blocks are never freed: the handler may be
// walking them at any moment, and there are only as many as the most mappings ever held at once.
struct SlotBlock {
  static constexpr int kSlots = 64;
  WatchedRange ranges[kSlots];
  std::atomic<SlotBlock*> next{nullptr};
};

SlotBlock gFirstBlock;
std::uintptr_t gPageSize = 4096;
struct sigaction gPrevious {};

WatchedRange* takeSlot() {
  for (SlotBlock* block = &gFirstBlock;;) {
    for (WatchedRange& range : block->ranges) {
      bool free = false;
      if (range.taken.compare_exchange_strong(free, true)) return &range;
    }
    SlotBlock* next = block->next.load();
    if (next == nullptr) {
      auto* fresh = new SlotBlock;
      // Another thread may have chained one meanwhile: then that one is used.
      if (block->next.compare_exchange_strong(next, fresh)) {
        next = fresh;
      } else {
        delete fresh;
      }
    }
    block = next;
  }
}

void onBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (SlotBlock* block = &gFirstBlock; block != nullptr; block = block->next.load()) {
    for (WatchedRange& range : block->ranges) {
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
  range_ = takeSlot();
  range_->cut.store(false);
  range_->size.store(size);
  range_->begin.store(reinterpret_cast<std::uintptr_t>(begin));
}

MappedFileGuard::~MappedFileGuard() {
  range_->begin.store(0);
  range_->size.store(0);
  range_->taken.store(false);
}

bool MappedFileGuard::cut() const {
  return range_->cut.load();
}

}  // namespace drovanta
