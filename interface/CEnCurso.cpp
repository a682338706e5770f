#include "interface/CEnCurso.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <sstream>

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "common/platform/errors.h"
#include "common/platform/files.h"
#include "common/platform/xml.h"

namespace PRESCORA_NS {

namespace files = platform::files;

namespace {

// Where the identifier's two bytes lie: a hash of the identifier without regard to letter case.
// Two identifiers that meet on one pair never mix: the second is refused with 32020 while the
// first is in flight, as another request of the same identifier would be.
std::uint64_t ByteOf(const std::string& id) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : id) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return 1 + 2 * (hash % (1ull << 40));
}

// One line of the state file, without its end and trailing spaces.
std::string Line(std::string_view text) {
  std::string line(text.substr(0, std::min(text.size(), text.find('\n'))));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

}  // namespace

CEnCurso::Contenido CEnCurso::Leer(std::string_view text) {
  Contenido content;
  content.estado = Line(text);
  // The token is the second line, but only within what the last write left whole: its end was
  // written with it. What follows a shorter state is what is left of a longer one written before.
  const std::size_t end = text.find('\n');
  if (end != std::string_view::npos) {
    std::string_view rest = text.substr(end + 1);
    const std::size_t second = rest.find('\n');
    if (second != std::string_view::npos && second == kLargoFicha &&
        rest.substr(0, second).find_first_not_of("0123456789abcdef") == std::string_view::npos)
      content.ficha = std::string(rest.substr(0, second));
  }
  return content;
}

namespace {

// The state file as it stands; empty when there is none. A link or anything but a regular file
// is refused (never read, never waited on).
CEnCurso::Contenido ReadState(const std::string& path, const std::function<void()>& refuse) {
  int fd = files::OpenRegular(path, O_RDONLY);
  if (fd < 0) {
    if (files::Refused(errno)) refuse();
    return {};
  }
  char buffer[128];
  ssize_t n;
  do {
    n = ::pread(fd, buffer, sizeof buffer, 0);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return {};
  return CEnCurso::Leer(std::string_view(buffer, static_cast<std::size_t>(n)));
}

}  // namespace

CEnCurso::CEnCurso(std::string strIdPrescripcion) : id_(std::move(strIdPrescripcion)) {
  const std::string root = platform::component::InLibraryFolder("");
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
  return ReadState(estadoPath_, [this] { Rechazar(); }).estado;
}

std::string CEnCurso::FichaGuardada() const {
  return ReadState(estadoPath_, [this] { Rechazar(); }).ficha;
}

void CEnCurso::Mover(protocolo::Actor actor, protocolo::Estado desde, protocolo::Estado hasta,
                     bool ejecutorVivo, const std::string& detalle) {
  if (!protocolo::Permitido(actor, desde, hasta, ejecutorVivo)) RechazarMovimiento();
  if (hasta == protocolo::Estado::Ninguno) {
    BorrarEstado();
    return;
  }
  set_Estado(protocolo::Texto(hasta), detalle);
}

void CEnCurso::set_NoEnviada(protocolo::Estado desde, const std::vector<CErrorItem>& errores) {
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
  Mover(protocolo::Actor::Ejecutor, desde, protocolo::Estado::NoEnviada, false, text);
}

std::vector<CErrorItem> CEnCurso::ErroresNoEnviada() const {
  std::vector<CErrorItem> errores;
  std::string text;
  if (!files::ReadHead(estadoPath_, text, 65536)) return errores;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kNoEnviada) return errores;
  // The token's line has no tab: only the error lines that follow it are read.
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
  // The token stays with every state written after it; the errors of "noenviada" follow it.
  const std::string line =
      estado + "\n" + (ficha_.empty() ? std::string() : ficha_ + "\n") + detalle;
  // A state that changes is written where it stands: replacing the file would cost the file
  // system a new file and the wait for the old one's writing to the disk, at every step.
  if (files::WriteOver(estadoPath_, line)) return;
  if (files::Refused(errno)) Rechazar();
  const std::string folder = estadoPath_.substr(0, estadoPath_.rfind('/'));
  if (!files::IsDirectory(folder)) files::MakeDirectory(folder);
  // A new state is written aside and renamed into place: a reader never finds half a word, nor
  // an empty file.
  const std::string temp = estadoPath_ + ".nuevo";
  // Readable by its owner only: the token is what tells this dispensing's answer from others.
  int fd = files::OpenRegular(temp, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0 && files::Refused(errno)) Rechazar();
  if (fd < 0) platform::RaiseFromErrno(errno);
  const bool written = files::WriteAll(fd, line);
  int err = written ? 0 : (errno ? errno : EIO);
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    platform::RaiseFromErrno(err);
  }
  files::Rename(temp, estadoPath_);
}

void CEnCurso::set_Rechazo(int32_t number, std::string source) {
  rechazo_ = number;
  rechazoFuente_ = std::move(source);
}

void CEnCurso::Rechazar() const {
  if (rechazo_ == 0) platform::RaiseFromErrno(errno);
  Raise(rechazo_, rechazoFuente_);
}

void CEnCurso::RechazarMovimiento() const {
  // A move the protocol does not have is a fault of this system, told with the operation's error.
  Raise(rechazo_ != 0 ? rechazo_ : platform::errInvalidCall, rechazoFuente_);
}

void CEnCurso::BorrarEstado() noexcept {
  std::remove(estadoPath_.c_str());
}

}  // namespace PRESCORA_NS
