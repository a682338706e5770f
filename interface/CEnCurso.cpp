#include "interface/CEnCurso.h"

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/errors.h"
#include "common/platform/files.h"
#include "common/platform/xml.h"

namespace PRESCORA_NS {

namespace files = platform::files;

namespace {

// Where the identifier's two bytes lie: a hash of the identifier without regard to letter case.
// Two identifiers that meet on one pair would only wait for each other, never mix.
std::uint64_t ByteOf(const std::string& id) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : id) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return 1 + 2 * (hash % (1ull << 40));
}

// The word of the first line: what follows it is what is left of a longer word written before.
std::string ReadWord(const std::string& path) {
  std::string text;
  std::FILE* file = std::fopen(path.c_str(), "rbe");
  if (file == nullptr) return text;
  char buffer[64];
  std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
  std::fclose(file);
  text.assign(buffer, n);
  text.resize(std::min(text.size(), text.find('\n')));
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

CEnCurso::CEnCurso(std::string strIdPrescripcion) : id_(std::move(strIdPrescripcion)) {
  const std::string root = AddBackslash(platform::component::LibraryFolder());
  estadoPath_ = root + "EnCurso/" + id_ + ".estado";
  byte_ = ByteOf(id_);
  lock_ = std::make_unique<files::LockFile>(root + "EnCurso.lock");
}

CEnCurso::~CEnCurso() = default;

CEnCurso::Paso::Paso(CEnCurso& owner) : owner_(owner) {
  owner_.lock_->Lock();
}

CEnCurso::Paso::~Paso() {
  owner_.lock_->Unlock();
}

bool CEnCurso::TomarFrente() {
  return lock_->TryLockByte(byte_);
}

bool CEnCurso::TomarEjecutor() {
  return lock_->TryLockByte(byte_ + 1);
}

bool CEnCurso::FrenteOcupado() const {
  return lock_->LockedByOther(byte_);
}

bool CEnCurso::EjecutorOcupado() const {
  return lock_->LockedByOther(byte_ + 1);
}

std::string CEnCurso::Estado() const {
  return ReadWord(estadoPath_);
}

void CEnCurso::set_NoEnviada(const std::vector<CErrorItem>& errores) {
  // A line each; a tab or a line end inside a text would break it.
  auto flat = [](std::string text) {
    for (char& c : text)
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
  };
  std::string text;
  for (const CErrorItem& e : errores)
    text +=
        std::to_string(e.Number()) + "\t" + flat(e.Source()) + "\t" + flat(e.Description()) + "\n";
  set_Estado(kNoEnviada, text);
}

std::vector<CErrorItem> CEnCurso::ErroresNoEnviada() const {
  std::vector<CErrorItem> errores;
  std::ifstream in(estadoPath_, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line != kNoEnviada) return errores;
  while (std::getline(in, line)) {
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) continue;
    CErrorItem item;
    try {
      item.set_Number(std::stoi(line.substr(0, tab1)));
    } catch (...) {
      continue;
    }
    item.set_Source(line.substr(tab1 + 1, tab2 - tab1 - 1));
    item.set_Description(line.substr(tab2 + 1));
    item.set_HelpContext("0");
    errores.push_back(std::move(item));
  }
  return errores;
}

void CEnCurso::set_Estado(const std::string& estado, const std::string& detalle) {
  const std::string line = estado + "\n" + detalle;
  // A state that changes is written where it stands: replacing the file would cost the file
  // system a new file and the wait for the old one's writing to the disk, at every step.
  if (files::WriteOver(estadoPath_, line)) return;
  const std::string folder = estadoPath_.substr(0, estadoPath_.rfind('/'));
  if (!files::IsDirectory(folder)) files::MakeDirectory(folder);
  // A new state is written aside and renamed into place: a reader never finds half a word, nor
  // an empty file.
  const std::string temp = estadoPath_ + ".nuevo";
  std::FILE* file = std::fopen(temp.c_str(), "wbe");
  if (file == nullptr) platform::RaiseFromErrno(errno);
  const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  if (std::fclose(file) != 0 || !written) {
    int err = errno;
    std::remove(temp.c_str());
    platform::RaiseFromErrno(err ? err : EIO);
  }
  files::Rename(temp, estadoPath_);
}

void CEnCurso::BorrarEstado() noexcept {
  std::remove(estadoPath_.c_str());
}

}  // namespace PRESCORA_NS
