// Progress on a terminal while a library waits: one line on the error output, rewritten in place
// at most every `cada`, wiped at the end.
#pragma once

#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <utility>

namespace prescora_tools {

class Progreso {
 public:
  // `linea` gives the line for the seconds gone by since the first step.
  Progreso(bool activo, std::chrono::milliseconds cada, std::function<std::string(double)> linea)
      : activo_(activo), cada_(cada), linea_(std::move(linea)) {}
  ~Progreso() { Terminar(); }
  Progreso(const Progreso&) = delete;
  Progreso& operator=(const Progreso&) = delete;

  void Paso() {
    if (!activo_) return;
    const auto ahora = std::chrono::steady_clock::now();
    if (!empezado_) {
      inicio_ = ahora;
      empezado_ = true;
    } else if (ahora - ultimo_ < cada_) {
      return;
    }
    ultimo_ = ahora;
    std::cerr << '\r' << linea_(std::chrono::duration<double>(ahora - inicio_).count())
              << std::flush;
    visible_ = true;
  }

  void Terminar() {
    if (visible_) std::cerr << "\r\033[K" << std::flush;
    visible_ = false;
  }

 private:
  bool activo_;
  std::chrono::milliseconds cada_;
  std::function<std::string(double)> linea_;
  bool empezado_ = false;
  bool visible_ = false;
  std::chrono::steady_clock::time_point inicio_, ultimo_;
};

}  // namespace prescora_tools
