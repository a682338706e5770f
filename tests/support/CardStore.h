// A personal certificate store made for one test, with real parts: an NSS database (certutil) in a
// temporary folder, a SoftHSM token registered in it (modutil), test authorities and card
// certificates made with openssl and written onto a token with pkcs11-tool (key pair and
// certificate, as a card holds them). SOFTHSM2_CONF points at the folder's tokens while it lives.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "tests/common/TempFolder.h"

class CardStore {
 public:
  // The token every store starts with.
  static constexpr const char* kToken = "tarjeta";

  CardStore() {
    for (const char* candidate :
         {"/usr/lib/softhsm/libsofthsm2.so", "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so"}) {
      if (access(candidate, R_OK) == 0) module_ = candidate;
    }
    if (const char* previous = std::getenv("SOFTHSM2_CONF")) previousConf_ = previous;
    WriteAll(folder_ / "softhsm2.conf", "directories.tokendir = " + (folder_ / "tokens") +
                                            "\nobjectstore.backend = file\nlog.level = ERROR\n");
    setenv("SOFTHSM2_CONF", (folder_ / "softhsm2.conf").c_str(), 1);
    ok_ = !module_.empty() && Run("mkdir -p " + Q(folder_ / "tokens") + " " + Q(Folder())) &&
          AddToken(kToken) && Run("certutil -N -d " + Q(database()) + " --empty-password") &&
          Run("modutil -force -dbdir " + Q(database()) + " -add softhsm -libfile " + Q(module_));
  }
  ~CardStore() {
    if (previousConf_.empty()) {
      unsetenv("SOFTHSM2_CONF");
    } else {
      setenv("SOFTHSM2_CONF", previousConf_.c_str(), 1);
    }
  }
  CardStore(const CardStore&) = delete;
  CardStore& operator=(const CardStore&) = delete;

  // False when a part could not be made; log() says why.
  bool ok() const { return ok_; }
  const std::string& log() const { return log_; }

  // The database folder: as a home's .pki/nssdb, so a test may point HOME at home().
  std::string home() const { return folder_.path(); }
  std::string Folder() const { return folder_ / ".pki/nssdb"; }
  std::string database() const { return "sql:" + Folder(); }
  const std::string& module() const { return module_; }

  // Initialises one more token in a free slot (a card that appears).
  bool AddToken(const std::string& label) {
    return Run("softhsm2-util --init-token --free --label " + Q(label) +
               " --pin 1234 --so-pin 123456");
  }

  // Issues a certificate for `subject` (openssl form: "/C=ES/serialNumber=TIS 1/CN=ANA") signed
  // by the test authority whose common name is `issuer`, and writes it with its key pair onto
  // `token`.
  bool AddCard(const std::string& subject, const std::string& issuer = "Tarjeta Sanitaria",
               const std::string& token = kToken) {
    const std::string ca = Authority(issuer);
    if (ca.empty()) return false;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02x", ++cards_ & 0xff);
    const std::string id = hex;
    const std::string base = folder_ / ("card" + id);
    const std::string tool = "pkcs11-tool --module " + Q(module_) + " --token-label " + Q(token) +
                             " --login --pin 1234 --id " + id + " --label card" + id;
    return Run("openssl req -utf8 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
               "-keyout " +
               Q(base + ".key") + " -out " + Q(base + ".csr") + " -subj " + Q(subject)) &&
           Run("openssl x509 -req -in " + Q(base + ".csr") + " -CA " + Q(ca + ".pem") + " -CAkey " +
               Q(ca + ".key") + " -set_serial " + std::to_string(cards_) +
               " -days 30 -outform DER" + " -out " + Q(base + ".der")) &&
           Run("openssl pkcs8 -topk8 -nocrypt -in " + Q(base + ".key") + " -outform DER -out " +
               Q(base + ".p8")) &&
           Run("openssl pkey -in " + Q(base + ".key") + " -pubout -outform DER -out " +
               Q(base + ".pub")) &&
           Run(tool + " --write-object " + Q(base + ".p8") + " --type privkey") &&
           Run(tool + " --write-object " + Q(base + ".pub") + " --type pubkey") &&
           Run(tool + " --write-object " + Q(base + ".der") + " --type cert");
  }

 private:
  // The authority's file base (key and PEM certificate), made on first use.
  std::string Authority(const std::string& commonName) {
    auto found = authorities_.find(commonName);
    if (found != authorities_.end()) return found->second;
    const std::string base = folder_ / ("ca" + std::to_string(authorities_.size() + 1));
    if (!Run("openssl req -utf8 -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
             "-days 30" +
             std::string(" -keyout ") + Q(base + ".key") + " -out " + Q(base + ".pem") + " -subj " +
             Q("/C=ES/O=Servicio de Salud/CN=" + commonName)))
      return {};
    authorities_[commonName] = base;
    return base;
  }

  bool Run(const std::string& command) {
    const std::string output = folder_ / "command.log";
    int status = std::system((command + " >" + Q(output) + " 2>&1 </dev/null").c_str());
    log_ += "$ " + command + "\n" + ReadAll(output);
    return status == 0;
  }

  static std::string Q(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
      if (c == '\'') {
        out += "'\\''";
      } else {
        out += c;
      }
    }
    return out + "'";
  }

  TempFolder folder_;
  std::string module_;
  std::string previousConf_;
  std::map<std::string, std::string> authorities_;
  int cards_ = 0;
  std::string log_;
  bool ok_ = false;
};
