// A personal certificate store made for one test, with real parts: an NSS database (certutil) in a
// temporary folder, a SoftHSM token registered in it (modutil), test authorities and card
// certificates made with openssl and written onto a token with pkcs11-tool (key pair and
// certificate, as a card holds them). SOFTHSM2_CONF points at the folder's tokens while it lives.
//
// Each test authority is trusted by the database (for client authentication and mail), as a
// site installs the cards' authority; a card may instead be forged (see Forgery).
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

  enum class Forgery {
    kNone,
    // Signed by a key of its own under the issuer's very name, which the database does not trust.
    kUntrustedAuthority,
    // Issued by the trusted authority, then one byte of its signature changed.
    kBrokenSignature,
  };

  struct Card {
    std::string subject;  // openssl form: "/C=ES/serialNumber=TIS 1/CN=ANA"; "+" joins a part
    std::string issuer = "Tarjeta Sanitaria";
    std::string token = kToken;
    Forgery forgery = Forgery::kNone;
    // Bytes of the subject replaced once it is encoded (same length), the certificate signed
    // again: for values openssl will not take, such as a NUL.
    std::string replace = {};
    std::string by = {};
  };

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

  // Issues a certificate for `subject` signed by the test authority whose common name is `issuer`,
  // and writes it with its key pair onto `token`.
  bool AddCard(const std::string& subject, const std::string& issuer = "Tarjeta Sanitaria",
               const std::string& token = kToken) {
    return AddCard(Card{subject, issuer, token});
  }

  bool AddCard(const Card& card) {
    const std::string ca = Authority(card.issuer, card.forgery != Forgery::kUntrustedAuthority);
    if (ca.empty()) return false;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02x", ++cards_ & 0xff);
    const std::string id = hex;
    const std::string base = folder_ / ("card" + id);
    const std::string tool = "pkcs11-tool --module " + Q(module_) + " --token-label " +
                             Q(card.token) + " --login --pin 1234 --id " + id + " --label card" +
                             id;
    bool made =
        Run("openssl req -utf8 -multivalue-rdn -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
            "-nodes -keyout " +
            Q(base + ".key") + " -out " + Q(base + ".csr") + " -subj " + Q(card.subject)) &&
        Run("openssl x509 -req -in " + Q(base + ".csr") + " -CA " + Q(ca + ".pem") + " -CAkey " +
            Q(ca + ".key") + " -set_serial " + std::to_string(cards_) + " -days 30 -outform DER" +
            " -out " + Q(base + ".der"));
    if (made && !card.replace.empty()) made = SignAgain(base, ca, card.replace, card.by);
    if (made && card.forgery == Forgery::kBrokenSignature) {
      std::string der = ReadAll(base + ".der");
      der.back() = static_cast<char>(der.back() ^ 0x01);
      WriteAll(base + ".der", der);
    }
    return made &&
           Run("openssl pkcs8 -topk8 -nocrypt -in " + Q(base + ".key") + " -outform DER -out " +
               Q(base + ".p8")) &&
           Run("openssl pkey -in " + Q(base + ".key") + " -pubout -outform DER -out " +
               Q(base + ".pub")) &&
           Run(tool + " --write-object " + Q(base + ".p8") + " --type privkey") &&
           Run(tool + " --write-object " + Q(base + ".pub") + " --type pubkey") &&
           Run(tool + " --write-object " + Q(base + ".der") + " --type cert");
  }

 private:
  // The authority's file base (key and PEM certificate), made on first use; a trusted one is
  // installed in the database as a site installs the cards' authority.
  std::string Authority(const std::string& commonName, bool trusted) {
    const std::string name = (trusted ? "+" : "-") + commonName;
    auto found = authorities_.find(name);
    if (found != authorities_.end()) return found->second;
    const std::string base = folder_ / ("ca" + std::to_string(authorities_.size() + 1));
    if (!Run("openssl req -utf8 -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
             "-days 30" +
             std::string(" -keyout ") + Q(base + ".key") + " -out " + Q(base + ".pem") + " -subj " +
             Q("/C=ES/O=Servicio de Salud/CN=" + commonName)))
      return {};
    if (trusted && !Run("certutil -A -d " + Q(database()) + " -n " + Q(name) + " -t CT,C, -i " +
                        Q(base + ".pem")))
      return {};
    authorities_[name] = base;
    return base;
  }

  // The certificate `base`.der with `replace` changed into `by` inside its signed part, signed
  // again by the authority `ca`.
  bool SignAgain(const std::string& base, const std::string& ca, const std::string& replace,
                 const std::string& by) {
    const std::string der = ReadAll(base + ".der");
    std::size_t header = 0, length = 0, tbsHeader = 0, tbsLength = 0, algHeader = 0, algLength = 0;
    if (by.size() != replace.size() || !Element(der, 0, header, length) ||
        !Element(der, header, tbsHeader, tbsLength) ||
        !Element(der, header + tbsLength, algHeader, algLength))
      return false;
    std::string tbs = der.substr(header, tbsLength);
    const std::size_t at = tbs.find(replace);
    if (at == std::string::npos) return false;
    tbs.replace(at, replace.size(), by);
    WriteAll(base + ".tbs", tbs);
    if (!Run("openssl dgst -sha256 -sign " + Q(ca + ".key") + " -out " + Q(base + ".sig") + " " +
             Q(base + ".tbs")))
      return false;
    const std::string signature = std::string(1, '\0') + ReadAll(base + ".sig");
    const std::string body = tbs + der.substr(header + tbsLength, algLength) + '\x03' +
                             Length(signature.size()) + signature;
    WriteAll(base + ".der", '\x30' + Length(body.size()) + body);
    return true;
  }

  // The DER element at `at`: the size of its header and its whole size.
  static bool Element(const std::string& der, std::size_t at, std::size_t& header,
                      std::size_t& size) {
    if (at + 2 > der.size()) return false;
    const unsigned char first = static_cast<unsigned char>(der[at + 1]);
    std::size_t length = first;
    header = 2;
    if (first & 0x80) {
      length = 0;
      for (unsigned i = 0; i < (first & 0x7Fu); ++i)
        length = length << 8 | static_cast<unsigned char>(der[at + 2 + i]);
      header += first & 0x7Fu;
    }
    size = header + length;
    return at + size <= der.size();
  }

  static std::string Length(std::size_t length) {
    if (length < 0x80) return std::string(1, static_cast<char>(length));
    std::string bytes;
    for (; length > 0; length >>= 8) bytes.insert(bytes.begin(), static_cast<char>(length & 0xFF));
    return static_cast<char>(0x80 | bytes.size()) + bytes;
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
