// The audit file with its journal and its index, each from the input: a journal left by a killed
// writer (or planted) is put back or dropped, an index is used only for the file it describes.
// The input is two 16-bit little-endian lengths (audit text, journal), then those parts, then the
// index. An index that starts with its mark is stamped for the file as written, so that its table
// is read; the audit text is padded past the size from which an index is kept when an index is
// given.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/platform/profiletail.h"
#include "fuzz/FuzzFile.h"

namespace tail = PRESCORA_NS::platform::profiletail;

namespace {

std::string BootId() {
  std::string text(64, '\0');
  int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
  ssize_t n = fd >= 0 ? read(fd, text.data(), text.size()) : 0;
  if (fd >= 0) close(fd);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

void Write(const std::string& path, const std::string& bytes) {
  WriteScratch(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t auditLength = data[0] | (data[1] << 8);
  const size_t journalLength = data[2] | (data[3] << 8);
  std::string rest(reinterpret_cast<const char*>(data) + 4, size - 4);
  const std::string audit = rest.substr(0, auditLength);
  rest.erase(0, audit.size());
  const std::string journal = rest.substr(0, journalLength);
  rest.erase(0, journal.size());
  std::string index = rest;

  const std::string& file = ScratchFile(".log");
  // Padded with a few long sections: the index is kept from this size on, and a table of few
  // names keeps each run fast.
  std::string padded = audit;
  if (!index.empty()) {
    for (int i = 0; padded.size() < 300 * 1024; ++i)
      padded += "\n[R" + std::to_string(i) + "]\nMENSAJE_ENVIADO=No\n;" + std::string(32768, 'x');
  }
  Write(file, padded);
  if (index.size() >= 128 && index.compare(0, 8, "PRSIDX02") == 0) {
    struct stat st {};
    stat(file.c_str(), &st);
    const uint64_t dev = st.st_dev, ino = st.st_ino;
    const int64_t length = st.st_size, sec = st.st_mtim.tv_sec, nsec = st.st_mtim.tv_nsec;
    std::memcpy(index.data() + 24, &dev, 8);
    std::memcpy(index.data() + 32, &ino, 8);
    std::memcpy(index.data() + 40, &length, 8);
    std::memcpy(index.data() + 48, &sec, 8);
    std::memcpy(index.data() + 56, &nsec, 8);
    const std::string boot = BootId().substr(0, 39);
    std::memset(index.data() + 64, 0, 40);
    std::memcpy(index.data() + 64, boot.data(), boot.size());
  }
  Write(file + ".idx", index);
  if (!journal.empty()) Write(file + ".journal", journal);

  tail::GetString(file, "R7", "MENSAJE_ENVIADO");
  tail::WriteString(file, "R7", "MENSAJE_ENVIADO", "Si", tail::Durability::kInMemory);
  tail::WriteString(file, "NUEVA", "RESPUESTA_GENERADA", "srv", tail::Durability::kInMemory);
  tail::GetString(file, "NUEVA", "RESPUESTA_GENERADA");
  unlink((file + ".journal").c_str());
  return 0;
}
