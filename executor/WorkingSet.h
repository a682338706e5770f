// The pages a copy needs of those it shares with the process it was copied from, learned from
// the copies' own work and made a copy's own before it waits, rather than one fault at a time
// once it has work: pages written are copied, pages read (code, constants) mapped. The
// candidates are the private mappings of the serving process (data of the program and the
// libraries, heap, stack, code); large ones, such as a thread stack kept for reuse or a library's
// data tables, are left alone. Every copy marks, once its work is done, the pages it needed in a
// map shared by all copies of the serving process; a page once needed is made ready for every
// copy after. Making all candidates ready instead would be much more work (most code of the
// libraries is never run by a copy), and more to give back when the copy ends.
// Nothing happens where the system cannot do it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace executor {

class WorkingSet {
 public:
  // In the serving process, before its first copy.
  void Prepare();
  // In a copy, before it waits: the pages needed so far are made its own, a run at a time.
  void Own() const;
  // In a copy whose work is done: marks the pages it has needed, those it has written of the
  // writable mappings (now its own alone) and those it has mapped of the others. Every one of
  // the first copies tells, then one in kLearnEvery: reading the page tables has its cost too.
  void Learn() const;

 private:
  static constexpr std::uint64_t kLearnEvery = 16;
  struct Range {
    unsigned long from, to;
    bool writable;
    std::size_t first;  // the bit of its first page
  };

  bool Needed(std::size_t bit) const;
  void Mark(std::size_t bit) const;

  std::vector<Range> ranges_;
  std::size_t page_ = 4096;          // the system's, once prepared
  std::uint64_t* needed_ = nullptr;  // one bit a candidate page, shared with every copy
  std::size_t words_ = 0;
};

}  // namespace executor
