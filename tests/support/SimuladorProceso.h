// The regional-service simulator as a child process of a test: started on a free loopback port,
// its first output line (the description's URL) read, its later lines collected, and stopped at
// the end. Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class SimuladorProceso {
 public:
  // Starts PRESCORA_BIN_DIR/prescora-simulador (or `programa`, another service that prints its
  // description's URL first) with these arguments, plus "--port 0" unless a port is given. Check
  // Arrancado() afterwards.
  explicit SimuladorProceso(std::vector<std::string> argumentos,
                            std::chrono::milliseconds espera = std::chrono::seconds(20),
                            std::string programa = {});
  ~SimuladorProceso();
  SimuladorProceso(const SimuladorProceso&) = delete;
  SimuladorProceso& operator=(const SimuladorProceso&) = delete;

  bool Arrancado() const { return !url_.empty(); }
  // The first output line, for example http://127.0.0.1:40123/wsdl.
  const std::string& Url() const { return url_; }
  // The scheme, host and port of Url(), for example http://127.0.0.1:40123.
  std::string Base() const;
  int Puerto() const;

  // The next output line, after those already returned, that contains `texto`.
  std::optional<std::string> EsperarLinea(
      std::string_view texto, std::chrono::milliseconds espera = std::chrono::seconds(20));
  // Standard error so far.
  std::string Errores() const;

  // Sends `senal` and waits for the end; kills the process when it does not end in time. Returns
  // the exit code, or -1 when it did not exit by itself.
  int Detener(int senal, std::chrono::milliseconds espera = std::chrono::seconds(20));
  // Waits for a process that ends by itself (a bad argument, --help). Same result as Detener.
  int EsperarFin(std::chrono::milliseconds espera = std::chrono::seconds(20));

 private:
  void Leer(int salida, int error);

  pid_t pid_ = -1;
  int estado_ = -2;  // exit code once reaped
  std::string url_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> lineas_;
  std::size_t cursor_ = 0;
  std::string pendiente_;
  std::string errores_;
  bool cerrado_ = false;
  std::thread lector_;
};
