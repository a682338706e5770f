// A scratch file of the fuzzing process, for parsers that read files: rewritten with each input,
// removed when the process ends.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

inline const std::string& ScratchFile(const char* extension) {
  static const std::string path = [extension] {
    // In memory where there is such a folder: the settings writer flushes every write to disk.
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string p = std::string(folder) + "/prescora-fuzz-" + std::to_string(getpid()) + extension;
    static std::string removed;
    removed = p;
    std::atexit([] { unlink(removed.c_str()); });
    return p;
  }();
  return path;
}

// Writes the input as the whole file; false when it could not be written.
inline bool WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == size;
}
