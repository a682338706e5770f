#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "executor/Copies.h"
#include "executor/WorkingSet.h"

namespace {

const std::size_t kPage = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));

// Whether this process's page tables have the page (bit 63), or have it as its own alone (56).
bool PageBit(const void* address, int bit) {
  const int pagemap = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  std::uint64_t entry = 0;
  const auto at = static_cast<off_t>(reinterpret_cast<std::uintptr_t>(address) / kPage * 8);
  const bool read = pread(pagemap, &entry, sizeof entry, at) == sizeof entry;
  close(pagemap);
  return read && (entry >> bit & 1) != 0;
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
  // Data the serving process has written, and read-only pages of a file, as code is. The data
  // lies between two inaccessible pages: a mapping of its own, never merged with a neighbour
  // into one too large to be a candidate (the sanitizer's own mappings are many).
  auto* guarded = static_cast<char*>(
      mmap(nullptr, 18 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(guarded, MAP_FAILED);
  ASSERT_EQ(mprotect(guarded, kPage, PROT_NONE), 0);
  ASSERT_EQ(mprotect(guarded + 17 * kPage, kPage, PROT_NONE), 0);
  char* data = guarded + kPage;
  std::memset(data, 1, 16 * kPage);
  FILE* file = std::tmpfile();
  ASSERT_EQ(ftruncate(fileno(file), 64 * kPage), 0);
  auto* code =
      static_cast<char*>(mmap(nullptr, 64 * kPage, PROT_READ, MAP_PRIVATE, fileno(file), 0));
  std::fclose(file);
  ASSERT_NE(code, MAP_FAILED);

  executor::WorkingSet set;
  set.Prepare();
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
              return (PageBit(data + 5 * kPage, 56) ? 0 : 1) |
                     (PageBit(code + 40 * kPage, 63) ? 0 : 2) |
                     (PageBit(data + 6 * kPage, 56) ? 4 : 0);
            }),
            0);
  munmap(guarded, 18 * kPage);
  munmap(code, 64 * kPage);
}

// What ends with the copy's thread, or with its process, writes to this pipe.
int endings = -1;
struct Ending {
  const char* text;
  ~Ending() { (void)!write(endings, text, std::strlen(text)); }
};

TEST(LauncherCopies, ACopyEndsWithItsThreadsObjectsAndItsStatus) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    endings = dup2(ends[1], STDOUT_FILENO);
    static Ending process{"proceso"};
    thread_local Ending thread{"hilo"};
    (void)process, (void)thread;
    std::printf("salida");  // left in the buffer: it must still come out
    executor::EndCopy(3);
  }
  close(ends[1]);
  std::string said;
  char buffer[64];
  for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
  close(ends[0]);
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
  // The thread's object ended first; the process's never did.
  EXPECT_EQ(said, "hilosalida");
}

// A copy whose maker is gone takes a line that had already come, and refuses the channel to any
// later one: the sender learns it at once, while the copy still lives.
TEST(LauncherCopies, ACopyWhoseMakerIsGoneTakesOnlyALineAlreadyThere) {
  for (const bool lineFirst : {true, false}) {
    SCOPED_TRACE(lineFirst);
    int channel[2], maker[2], decided[2], gate[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, channel), 0);
    ASSERT_EQ(pipe(maker), 0);
    ASSERT_EQ(pipe(decided), 0);
    ASSERT_EQ(pipe(gate), 0);
    if (lineFirst) {
      ASSERT_EQ(send(channel[0], "IDPres=A\n", 9, MSG_NOSIGNAL), 9);
    }
    close(maker[0]);  // the maker is gone
    const pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      dup2(channel[1], executor::kArgumentsChannel);
      const auto line = executor::TakeArgumentLine(maker[1]);
      const bool told = executor::TellTaken(maker[1]);  // no SIGPIPE
      (void)!write(decided[1], "", 1);
      char c;
      (void)!read(gate[0], &c, 1);  // still alive while the sender tries
      _exit(!line ? 2 : *line == "IDPres=A" && !told ? 1 : 3);
    }
    ASSERT_GT(pid, 0);
    close(channel[1]);
    close(maker[1]);
    close(decided[1]);
    close(gate[0]);
    char c;
    ASSERT_EQ(read(decided[0], &c, 1), 1);
    if (!lineFirst) {
      EXPECT_EQ(send(channel[0], "IDPres=B\n", 9, MSG_NOSIGNAL), -1);
      EXPECT_EQ(errno, EPIPE);
    }
    close(gate[1]);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (lineFirst ? 1 : 2)) << status;
    for (int fd : {channel[0], decided[0]}) close(fd);
  }
}

// A copy made while another thread runs would start with whatever that thread held; the serving
// process then makes none and carries the line out itself.
TEST(LauncherCopies, NoCopyIsMadeWhileAnotherThreadRuns) {
  EXPECT_EQ(InChild([] {
              int channel[2], blocked[2];
              if (socketpair(AF_UNIX, SOCK_STREAM, 0, channel) != 0 || pipe(blocked) != 0) return 9;
              const int sender = fcntl(channel[0], F_DUPFD, 10);  // clear of descriptor 3
              if (channel[0] != executor::kArgumentsChannel) close(channel[0]);
              dup2(channel[1], executor::kArgumentsChannel);
              (void)!write(sender, "IDPres=A\n", 9);
              close(sender);  // the input ends after the line
              std::thread([fd = blocked[0]] {
                char c;
                (void)!read(fd, &c, 1);
              }).detach();
              while (executor::ThreadCount() < 2) std::this_thread::yield();
              const pid_t self = getpid();
              const auto line = executor::ServeArgumentLines();
              if (getpid() != self) return 1;
              return line == "IDPres=A" && !executor::WorkDone() ? 0 : 2;
            }),
            0);
}

}  // namespace
