// prescora-simulador: stands in for the regional e-prescription web service on one machine, for
// integrators developing offline, for demonstrations and for the end-to-end tests.
//
// Standard output: first the URL of the service description, then one line per request served.
// Messages for people go to standard error, in Spanish.
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include <httplib.h>
#include <CLI/CLI.hpp>

#include "tools/comun/Programa.h"
#include "tools/simulador/Datos.h"
#include "tools/simulador/Servicio.h"

namespace {

constexpr const char* kRutaServicio = "/servicio";
constexpr const char* kRutaDescripcion = "/wsdl";
constexpr const char* kRutaCodificacion = "/soap-encoding.xsd";

std::mutex salidaMutex;

void Linea(const std::string& texto) {
  std::lock_guard<std::mutex> lock(salidaMutex);
  std::cout << texto << std::endl;  // flushed: scripts and tests read it as it comes
}

void Aviso(const std::string& texto) {
  std::lock_guard<std::mutex> lock(salidaMutex);
  std::cerr << "prescora-simulador: " << texto << std::endl;
}

// Stop request, shared by the signal watcher and the delayed answers, so that a long delay does
// not hold up the stop.
struct Parada {
  std::mutex mutex;
  std::condition_variable cv;
  bool pedida = false;

  void Pedir() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      pedida = true;
    }
    cv.notify_all();
  }
  void Esperar(long ms) {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return pedida; });
  }
} parada;

// The port of a "hex address:hex port" of the kernel's TCP tables; -1 if none.
int PuertoDeTabla(const std::string& direccion) {
  const auto dos = direccion.rfind(':');
  if (dos == std::string::npos) return -1;
  return static_cast<int>(std::strtol(direccion.c_str() + dos + 1, nullptr, 16));
}

// The inode of the TCP socket with these two ports, from the kernel's tables of this process's
// network (each line: sl local remote st queues tr retrnsmt uid timeout inode ...); 0 if none.
unsigned long InodoDeConexion(int local, int remoto) {
  for (const char* tabla : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
    std::ifstream in(tabla);
    std::string linea;
    std::getline(in, linea);  // the heading
    while (std::getline(in, linea)) {
      std::istringstream campos(linea);
      std::string sl, dirLocal, dirRemota, st, colas, tr, reenvios, uid, espera;
      unsigned long inodo = 0;
      if (campos >> sl >> dirLocal >> dirRemota >> st >> colas >> tr >> reenvios >> uid >> espera >>
              inodo &&
          inodo != 0 && PuertoDeTabla(dirLocal) == local && PuertoDeTabla(dirRemota) == remoto)
        return inodo;
    }
  }
  return 0;
}

// Drops the connection a request arrived on without answering. The server library does not hand
// out its sockets, so the socket is found by its two ports in the kernel's tables, then by its
// inode among this process's descriptors, read by name only: the other descriptors belong to the
// server's other threads, which may be closing them.
bool CortarConexion(const httplib::Request& req) {
  const unsigned long inodo = InodoDeConexion(req.local_port, req.remote_port);
  if (inodo == 0) return false;
  const std::string buscado = "socket:[" + std::to_string(inodo) + "]";
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return false;
  bool cortada = false;
  while (dirent* e = readdir(dir)) {
    char* fin = nullptr;
    const long fd = std::strtol(e->d_name, &fin, 10);
    if (*fin != '\0' || fd < 0 || fd == dirfd(dir)) continue;
    char destino[64];
    const ssize_t n = readlinkat(dirfd(dir), e->d_name, destino, sizeof destino);
    if (n <= 0 || std::string_view(destino, static_cast<std::size_t>(n)) != buscado) continue;
    shutdown(static_cast<int>(fd), SHUT_RDWR);
    cortada = true;
    break;
  }
  closedir(dir);
  return cortada;
}

std::string HostParaUrl(const std::string& host) {
  if (host == "0.0.0.0" || host.empty()) return "127.0.0.1";
  if (host == "::") return "[::1]";
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Simulador del servicio regional de receta electrónica: sirve la descripción WSDL y las "
      "operaciones solicitudDispensacion y consultaPrescripcionesNoDispensadasPorTis a partir de "
      "un archivo de datos, y puede fallar a propósito.\n"
      "La primera línea de la salida estándar es la URL de la descripción del servicio; después, "
      "una línea por petición atendida.",
      "prescora-simulador"};
  prescora_tools::AyudaEnEspanol(app, 34);
  app.option_defaults()->group("Opciones");
  app.set_help_flag("-h,--help", "Muestra esta ayuda y termina")->group("Opciones");
  prescora_tools::AnadirVersion(app);

  std::string puertoTexto = "0";
  std::string host = "127.0.0.1";
  std::string datosRuta, cert, key, falloTexto, retrasoTexto, detalle, estiloTexto = "normal";
  bool sinReferencias = false, retornoReferencia = false, soloDescripcion = false;

  app.add_option("-p,--port", puertoTexto, "Puerto TCP; 0 elige uno libre (por defecto 0)")
      ->type_name("N");
  app.add_option("--host", host, "Dirección en la que escuchar (por defecto 127.0.0.1)")
      ->type_name("DIR");
  app.add_option("-d,--datos", datosRuta,
                 "Archivo de datos: usuarios, pacientes y prescripciones (obligatorio)")
      ->type_name("ARCHIVO");
  app.add_option("--cert", cert, "Certificado del servidor (PEM): sirve por HTTPS; con --key")
      ->type_name("ARCHIVO");
  app.add_option("--key", key, "Clave privada del certificado (PEM)")->type_name("ARCHIVO");
  app.add_option("--estilo", estiloTexto,
                 "Forma de escribir las respuestas: normal (por defecto) o multiref (la parte de "
                 "retorno, cada prescripción, cada lista y cada número como <multiRef id=\"idN\"> "
                 "en el cuerpo, citados con href=\"#idN\")")
      ->type_name("NOMBRE");
  app.add_flag("--descripcion", soloDescripcion,
               "Escribe en la salida estándar la descripción WSDL que serviría en --host y "
               "--port (N distinto de 0) y termina; no necesita archivo de datos");
  app.add_flag("--sin-referencias", sinReferencias,
               "Envía los textos de las prescripciones en línea, sin referencias href/id");
  app.add_flag("--retorno-referencia", retornoReferencia,
               "Envía la parte de retorno de cada respuesta como referencia href/id");
  app.add_option("--fallo", falloTexto,
                 "Falla en todas las peticiones: soap, http500, xml, vacio, cerrar o ninguno")
      ->type_name("TIPO");
  app.add_option("--retraso", retrasoTexto, "Retrasa todas las respuestas MS milisegundos")
      ->type_name("MS");
  app.add_option("--detalle", detalle, "Texto del detalle de los fallos SOAP simulados")
      ->type_name("TEXTO");

  if (auto salida = prescora_tools::LeerLineaDeOrdenes(app, argc, argv, 2)) return *salida;

  simulador::Opciones opciones;
  opciones.referencias = !sinReferencias;
  opciones.retornoReferencia = retornoReferencia;
  char* fin = nullptr;
  const long puerto = std::strtol(puertoTexto.c_str(), &fin, 10);
  if (puertoTexto.empty() || *fin != '\0' || puerto < 0 || puerto > 65535) {
    Aviso("el puerto debe ser un número entre 0 y 65535: " + puertoTexto);
    return 2;
  }
  if (estiloTexto == "multiref") {
    opciones.estilo = simulador::Estilo::MultiRef;
    // Those two shape the normal style only; silently ignoring them would mislead.
    if (sinReferencias || retornoReferencia) {
      Aviso("--sin-referencias y --retorno-referencia solo valen con el estilo normal");
      return 2;
    }
  } else if (estiloTexto != "normal") {
    Aviso("estilo desconocido: " + estiloTexto + " (valores: normal, multiref)");
    return 2;
  }
  if (soloDescripcion) {
    if (puerto == 0) {
      Aviso("--descripcion necesita el puerto en el que se serviría (--port N, distinto de 0)");
      return 2;
    }
    const std::string base = std::string(cert.empty() ? "http" : "https") + "://" +
                             HostParaUrl(host) + ":" + std::to_string(puerto);
    std::cout << simulador::Servicio::Descripcion(base + kRutaServicio, base + kRutaCodificacion);
    return std::cout.flush() ? 0 : 1;
  }
  if (!falloTexto.empty()) {
    opciones.averia.fallo = simulador::FalloDesdeTexto(falloTexto);
    if (!opciones.averia.fallo) {
      Aviso("tipo de fallo desconocido: " + falloTexto +
            " (valores: soap, http500, xml, vacio, cerrar, ninguno)");
      return 2;
    }
  }
  if (!retrasoTexto.empty()) {
    const long ms = std::strtol(retrasoTexto.c_str(), &fin, 10);
    if (*fin != '\0' || ms < 0 || ms > 3600000) {
      Aviso("el retraso debe ser un número de milisegundos entre 0 y 3600000: " + retrasoTexto);
      return 2;
    }
    opciones.averia.retrasoMs = ms;
  }
  if (app.count("--detalle")) opciones.averia.detalle = detalle;
  if (cert.empty() != key.empty()) {
    Aviso("--cert y --key se usan juntas");
    return 2;
  }
  if (datosRuta.empty()) {
    Aviso("falta el archivo de datos (--datos ARCHIVO). Use --help para ver las opciones.");
    return 2;
  }
  std::string error;
  auto datos = simulador::LeerArchivoDatos(datosRuta, error);
  if (!datos) {
    Aviso("error en el archivo de datos: " + error);
    return 2;
  }
  const std::string resumen = std::to_string(datos->usuarios.size()) + " usuarios, " +
                              std::to_string(datos->pacientes.size()) + " pacientes, " +
                              std::to_string(datos->prescripciones.size()) + " prescripciones";
  simulador::Servicio servicio(std::move(*datos), opciones);

  // Signals are taken by one watcher thread; every other thread, the server's included, starts
  // with them blocked.
  signal(SIGPIPE, SIG_IGN);
  sigset_t senales;
  sigemptyset(&senales);
  sigaddset(&senales, SIGINT);
  sigaddset(&senales, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &senales, nullptr);

  const bool tls = !cert.empty();
  std::unique_ptr<httplib::Server> svr;
  if (tls) {
    auto s = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
    if (!s->is_valid()) {
      Aviso("no se pueden cargar el certificado " + cert + " y la clave " + key);
      return 1;
    }
    svr = std::move(s);
  } else {
    svr = std::make_unique<httplib::Server>();
  }
  // The library's default shares the port (SO_REUSEPORT): a second simulator on a busy port
  // would start and take half the requests. Only a quick restart on the same port is wanted.
  // Answers go out as soon as they are written: the library writes the head and the body
  // separately, and with Nagle's algorithm the body would wait for the client's delayed ACK.
  // Accepted connections inherit the option from the listening socket.
  svr->set_socket_options([](int sock) {
    int si = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si);
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &si, sizeof si);
  });
  svr->set_payload_max_length(4 * 1024 * 1024);
  svr->set_read_timeout(10, 0);
  svr->set_write_timeout(10, 0);
  svr->set_keep_alive_timeout(1);  // idle connections must not hold up a stop

  const std::string esquema = tls ? "https" : "http";
  int puertoReal = static_cast<int>(puerto);
  auto direccion = [&](const httplib::Request& req, const char* ruta) {
    // The address a client used to reach us is the one it can use again.
    std::string h = req.get_header_value("Host");
    if (h.empty()) h = HostParaUrl(host) + ":" + std::to_string(puertoReal);
    return esquema + "://" + h + ruta;
  };
  auto via = [](const httplib::Request& req) {
    const std::string v = req.get_header_value("Via");
    return v.empty() ? std::string() : " [vía " + v + "]";
  };
  auto servirDescripcion = [&](const httplib::Request& req, httplib::Response& res) {
    res.set_content(simulador::Servicio::Descripcion(direccion(req, kRutaServicio),
                                                     direccion(req, kRutaCodificacion)),
                    "text/xml; charset=utf-8");
    Linea("wsdl descripción del servicio servida" + via(req));
  };

  svr->Get(kRutaDescripcion, servirDescripcion);
  svr->Get(kRutaCodificacion, [&](const httplib::Request& req, httplib::Response& res) {
    res.set_content(simulador::Servicio::EsquemaCodificacion(), "text/xml; charset=utf-8");
    Linea("wsdl esquema de codificación SOAP servido" + via(req));
  });
  svr->Get(kRutaServicio, [&](const httplib::Request& req, httplib::Response& res) {
    if (req.has_param("wsdl") || req.has_param("WSDL")) return servirDescripcion(req, res);
    res.status = 405;
    res.set_content("Use POST con un mensaje SOAP, o GET " + std::string(kRutaDescripcion) + "\n",
                    "text/plain; charset=utf-8");
  });
  svr->Post(kRutaServicio, [&](const httplib::Request& req, httplib::Response& res) {
    simulador::Respuesta r = servicio.Atender(req.body);
    // Said before the delay, so that whoever watches knows the request is in hand.
    Linea(r.linea + via(req));
    if (r.retrasoMs > 0) parada.Esperar(r.retrasoMs);
    if (r.cerrar) {
      if (!CortarConexion(req)) Aviso("no se ha podido cortar la conexión");
      res.status = 500;
    } else {
      res.status = r.estado;
      if (!r.cuerpo.empty() || !r.tipo.empty()) res.set_content(r.cuerpo, r.tipo);
    }
  });
  svr->set_error_handler(
      httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        res.set_content(res.status == 404 ? "Recurso no encontrado\n" : "Petición no atendida\n",
                        "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
      }));

  if (puerto == 0) {
    puertoReal = svr->bind_to_any_port(host);
  } else if (!svr->bind_to_port(host, puertoReal)) {
    puertoReal = -1;
  }
  if (puertoReal <= 0) {
    Aviso("no se puede escuchar en " + host + ":" + puertoTexto + ": " + std::strerror(errno));
    return 1;
  }

  std::atomic<bool> terminado{false};
  std::thread vigia([&] {
    const timespec espera{0, 200 * 1000 * 1000};
    while (!terminado) {
      const int s = sigtimedwait(&senales, nullptr, &espera);
      if (s != SIGINT && s != SIGTERM) continue;
      parada.Pedir();
      // A signal may come before the server loop has started; stop it once it has.
      while (!terminado && !svr->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (!terminado) svr->stop();
      return;
    }
  });

  Linea(esquema + "://" + HostParaUrl(host) + ":" + std::to_string(puertoReal) + kRutaDescripcion);
  Aviso("escuchando (" + resumen + "); Ctrl+C para terminar");
  const bool ok = svr->listen_after_bind();
  terminado = true;
  vigia.join();
  bool pedida = false;
  {
    std::lock_guard<std::mutex> lock(parada.mutex);
    pedida = parada.pedida;
  }
  if (!ok && !pedida) {
    Aviso("el servidor se ha detenido por un error");
    return 1;
  }
  Aviso("detenido");
  return 0;
}
