#include "executor/WorkingSet.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace executor {

void WorkingSet::Prepare() {
#if defined(MADV_POPULATE_WRITE) && defined(MADV_POPULATE_READ)
  FILE* maps = std::fopen("/proc/self/maps", "re");
  if (maps == nullptr) return;
  page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  char line[512];
  std::size_t pages = 0;
  while (std::fgets(line, sizeof line, maps) != nullptr) {
    unsigned long from = 0, to = 0;
    char mode[5] = {};
    if (std::sscanf(line, "%lx-%lx %4s", &from, &to, mode) != 3 || mode[3] != 'p') continue;
    const bool writable = mode[1] == 'w';
    if (writable ? to - from > (1ul << 20) : mode[0] != 'r' || to - from > (8ul << 20)) continue;
    ranges_.push_back({from, to, writable, pages});
    pages += (to - from) / page_;
  }
  std::fclose(maps);
  words_ = (pages + 63) / 64;
  // The map, then the count of copies that have told their pages.
  void* shared = mmap(nullptr, (words_ + 1) * sizeof(std::uint64_t), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    ranges_.clear();
    words_ = 0;
    return;
  }
  needed_ = static_cast<std::uint64_t*>(shared);
#endif
}

void WorkingSet::Own() const {
#if defined(MADV_POPULATE_WRITE) && defined(MADV_POPULATE_READ)
  for (const Range& range : ranges_) {
    const std::size_t count = (range.to - range.from) / page_;
    for (std::size_t i = 0; i < count;) {
      if (!Needed(range.first + i)) {
        ++i;
        continue;
      }
      std::size_t j = i + 1;
      while (j < count && Needed(range.first + j)) ++j;
      madvise(reinterpret_cast<void*>(range.from + i * page_), (j - i) * page_,
              range.writable ? MADV_POPULATE_WRITE : MADV_POPULATE_READ);
      i = j;
    }
  }
#endif
}

void WorkingSet::Learn() const {
  if (needed_ == nullptr) return;
  const std::uint64_t copy = __atomic_fetch_add(&needed_[words_], 1, __ATOMIC_RELAXED);
  if (copy >= kLearnEvery && copy % kLearnEvery != 0) return;
  const int pagemap = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  if (pagemap < 0) return;
  constexpr std::uint64_t kPresent = 1ull << 63;
  constexpr std::uint64_t kExclusive = 1ull << 56;
  std::uint64_t entries[512];
  for (const Range& range : ranges_) {
    const std::size_t count = (range.to - range.from) / page_;
    for (std::size_t done = 0; done < count;) {
      const std::size_t want = std::min<std::size_t>(count - done, std::size(entries));
      const off_t at = static_cast<off_t>((range.from / page_ + done) * sizeof(std::uint64_t));
      const ssize_t got = pread(pagemap, entries, want * sizeof(std::uint64_t), at);
      if (got <= 0) break;
      const std::size_t read = static_cast<std::size_t>(got) / sizeof(std::uint64_t);
      for (std::size_t k = 0; k < read; ++k) {
        const std::uint64_t e = entries[k];
        if ((e & kPresent) != 0 && (!range.writable || (e & kExclusive) != 0))
          Mark(range.first + done + k);
      }
      done += read;
    }
  }
  close(pagemap);
}

bool WorkingSet::Needed(std::size_t bit) const {
  return (__atomic_load_n(&needed_[bit / 64], __ATOMIC_RELAXED) >> (bit % 64) & 1) != 0;
}

void WorkingSet::Mark(std::size_t bit) const {
  const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
  if ((__atomic_load_n(&needed_[bit / 64], __ATOMIC_RELAXED) & mask) == 0)
    __atomic_fetch_or(&needed_[bit / 64], mask, __ATOMIC_RELAXED);
}

}  // namespace executor
