#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "executor/Waiting.h"

namespace {

const std::size_t kPage = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));

// What this process's page tables say of the page at `address`.
std::uint64_t PageEntry(const void* address) {
  const int pagemap = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  std::uint64_t entry = 0;
  const off_t at =
      static_cast<off_t>(reinterpret_cast<std::uintptr_t>(address) / kPage * sizeof entry);
  if (pagemap >= 0 && pread(pagemap, &entry, sizeof entry, at) != sizeof entry) entry = 0;
  if (pagemap >= 0) close(pagemap);
  return entry;
}
bool Present(const void* address) {
  return (PageEntry(address) >> 63 & 1) != 0;
}
bool OwnAlone(const void* address) {
  return (PageEntry(address) >> 56 & 1) != 0;
}

// Runs `body` in a child process; its exit status.
int InChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = -1;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LauncherCopies, PagesOneCopyNeededAreReadyInTheNext) {
  // A writable mapping the serving process has written, and code-like read-only pages of a file.
  auto* data = static_cast<char*>(
      mmap(nullptr, 16 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(data, MAP_FAILED);
  for (std::size_t i = 0; i < 16; ++i) data[i * kPage] = 1;
  char name[] = "/tmp/prescora-copias-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 64 * kPage), 0);
  auto* code = static_cast<const char*>(mmap(nullptr, 64 * kPage, PROT_READ, MAP_PRIVATE, fd, 0));
  close(fd);
  unlink(name);
  ASSERT_NE(code, MAP_FAILED);

  executor::WorkingSet set;
  set.Prepare();
  // A copy before any has worked makes nothing its own.
  EXPECT_EQ(InChild([&] {
              set.Own();
              return OwnAlone(data + 5 * kPage) || Present(code + 40 * kPage) ? 1 : 0;
            }),
            0);
  // A copy writes one page of the data and reads one of the file, then tells.
  ASSERT_EQ(InChild([&] {
              data[5 * kPage] = 2;
              volatile char read = code[40 * kPage];
              (void)read;
              set.Learn();
              return 0;
            }),
            0);
  // The next copy has both before it touches them; the data it did not write it still shares.
  EXPECT_EQ(InChild([&] {
              set.Own();
              return (OwnAlone(data + 5 * kPage) ? 0 : 1) | (Present(code + 40 * kPage) ? 0 : 2) |
                     (OwnAlone(data + 6 * kPage) ? 4 : 0);
            }),
            0);
  munmap(data, 16 * kPage);
  munmap(const_cast<char*>(code), 64 * kPage);
}

// What ends with the copy's thread writes to this pipe, and so would what ends with the process.
int endings = -1;
struct Ending {
  const char* text;
  ~Ending() { (void)!write(endings, text, std::strlen(text)); }
};

TEST(LauncherCopies, ACopyEndsWithItsThreadsObjectsAndItsStatus) {
  int pipe_[2];
  ASSERT_EQ(pipe(pipe_), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipe_[0]);
    endings = pipe_[1];
    dup2(pipe_[1], STDOUT_FILENO);
    static Ending process{"proceso"};
    thread_local Ending thread{"hilo"};
    (void)process;
    (void)thread;
    std::printf("salida");  // left in the buffer: it must still come out
    executor::EndCopy(3);
  }
  close(pipe_[1]);
  std::string said;
  char buffer[64];
  for (ssize_t n; (n = read(pipe_[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
  close(pipe_[0]);
  int status = -1;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  // The thread's object ended first; the process's never did.
  EXPECT_EQ(said, "hilosalida");
}

}  // namespace
