#include "support/SimuladorProceso.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char** environ;

SimuladorProceso::SimuladorProceso(std::vector<std::string> argumentos,
                                   std::chrono::milliseconds espera, std::string programa) {
  if (std::find(argumentos.begin(), argumentos.end(), "--port") == argumentos.end()) {
    argumentos.push_back("--port");
    argumentos.push_back("0");
  }
  if (programa.empty()) programa = std::string(PRESCORA_BIN_DIR) + "/prescora-simulador";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(programa.c_str()));
  for (auto& a : argumentos) argv.push_back(a.data());
  argv.push_back(nullptr);

  int salida[2], error[2];
  if (pipe2(salida, O_CLOEXEC) != 0) return;
  if (pipe2(error, O_CLOEXEC) != 0) {
    close(salida[0]);
    close(salida[1]);
    return;
  }
  posix_spawn_file_actions_t acciones;
  posix_spawn_file_actions_init(&acciones);
  posix_spawn_file_actions_addopen(&acciones, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&acciones, salida[1], 1);
  posix_spawn_file_actions_adddup2(&acciones, error[1], 2);
  if (posix_spawn(&pid_, programa.c_str(), &acciones, nullptr, argv.data(), environ) != 0)
    pid_ = -1;
  posix_spawn_file_actions_destroy(&acciones);
  close(salida[1]);
  close(error[1]);
  if (pid_ < 0) {
    close(salida[0]);
    close(error[0]);
    return;
  }
  lector_ = std::thread([this, s = salida[0], e = error[0]] { Leer(s, e); });

  std::unique_lock<std::mutex> lock(mutex_);
  if (cv_.wait_for(lock, espera, [this] { return !lineas_.empty() || cerrado_; }) &&
      !lineas_.empty()) {
    url_ = lineas_.front();
    cursor_ = 1;
  }
}

SimuladorProceso::~SimuladorProceso() {
  if (pid_ > 0 && estado_ == -2) Detener(SIGKILL);
  if (lector_.joinable()) lector_.join();
}

void SimuladorProceso::Leer(int salida, int error) {
  pollfd fds[2] = {{salida, POLLIN, 0}, {error, POLLIN, 0}};
  int abiertos = 2;
  char buf[4096];
  while (abiertos > 0) {
    if (poll(fds, 2, 1000) < 0) break;
    for (auto& f : fds) {
      if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(f.fd, buf, sizeof buf);
      std::lock_guard<std::mutex> lock(mutex_);
      if (n <= 0) {
        close(f.fd);
        f.fd = -1;
        --abiertos;
        continue;
      }
      if (f.fd == salida) {
        pendiente_.append(buf, static_cast<std::size_t>(n));
        std::size_t fin;
        while ((fin = pendiente_.find('\n')) != std::string::npos) {
          lineas_.push_back(pendiente_.substr(0, fin));
          pendiente_.erase(0, fin + 1);
        }
      } else {
        errores_.append(buf, static_cast<std::size_t>(n));
      }
      cv_.notify_all();
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  cerrado_ = true;
  cv_.notify_all();
}

std::string SimuladorProceso::Base() const {
  const auto esquema = url_.find("://");
  if (esquema == std::string::npos) return {};
  const auto ruta = url_.find('/', esquema + 3);
  return url_.substr(0, ruta);
}

int SimuladorProceso::Puerto() const {
  const std::string base = Base();
  const auto dos = base.rfind(':');
  return dos == std::string::npos ? -1 : std::stoi(base.substr(dos + 1));
}

std::optional<std::string> SimuladorProceso::EsperarLinea(std::string_view texto,
                                                          std::chrono::milliseconds espera) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::optional<std::string> hallada;
  cv_.wait_for(lock, espera, [&] {
    for (std::size_t i = cursor_; i < lineas_.size(); ++i) {
      if (lineas_[i].find(texto) != std::string::npos) {
        hallada = lineas_[i];
        cursor_ = i + 1;
        return true;
      }
    }
    return cerrado_;
  });
  return hallada;
}

std::string SimuladorProceso::Errores() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errores_;
}

int SimuladorProceso::EsperarFin(std::chrono::milliseconds espera) {
  if (pid_ <= 0) return -1;
  if (estado_ != -2) return estado_;
  const auto limite = std::chrono::steady_clock::now() + espera;
  int status = 0;
  while (true) {
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (r < 0 || std::chrono::steady_clock::now() >= limite) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      estado_ = -1;
      return estado_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  estado_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (lector_.joinable()) lector_.join();
  return estado_;
}

int SimuladorProceso::Detener(int senal, std::chrono::milliseconds espera) {
  if (pid_ <= 0) return -1;
  if (estado_ != -2) return estado_;
  kill(pid_, senal);
  return EsperarFin(espera);
}
