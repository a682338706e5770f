// What the SOAP client says of an exchange: each way an exchange can end, direct or through a
// proxy, against the client's error and whether the request may have left.
#include "common/platform/soapoutcome.h"

#include <gtest/gtest.h>

#include <string>

#include "common/platform/errors.h"
#include "common/platform/soap.h"

namespace soap = PRESCORA_NS::platform::soap;
using httplib::Error;
using PRESCORA_NS::platform::Failure;

namespace {

TEST(SoapOutcome, EachEndOfAnExchangeByTable) {
  constexpr int kNone = 0;
  struct Row {
    const char* what;
    soap::Outcome outcome;
    bool viaProxy;
    int error;  // the client's error, kNone when the answer is handed on
    bool mayHaveLeft;
  } rows[] = {
      {"answer", {Error::Success, true, 200}, false, kNone, true},
      {"error status, read by the answer's reader",
       {Error::Success, true, 500},
       false,
       kNone,
       true},
      {"401 of the server", {Error::Success, true, 401}, false, kNone, true},
      {"401 through a proxy", {Error::Success, true, 401}, true, soap::errSoapProxy, true},
      {"407", {Error::Success, true, 407}, true, soap::errSoapProxy, true},
      {"407 cut short by a reset", {Error::Read, false, 407}, true, soap::errSoapProxy, true},
      {"head too large", {Error::Read, false, 0, false, true}, false, soap::errSoapTransport, true},
      {"body too large",
       {Error::Canceled, false, 200, false, false, true},
       false,
       soap::errSoapTransport,
       true},
      {"tunnel refused",
       {Error::SSLConnection, false, 0, false, false, false, true, 403},
       true,
       soap::errSoapProxy,
       false},
      {"tunnel refused credentials",
       {Error::SSLConnection, false, 0, false, false, false, true, 407},
       true,
       soap::errSoapProxy,
       false},
      {"tunnel closed unanswered",
       {Error::SSLConnection, false, 0, false, false, false, true, 0},
       true,
       soap::errSoapProxy,
       false},
      {"tunnel late",
       {Error::SSLConnection, false, 0, true, false, false, true, 0},
       true,
       soap::errSoapTimeout,
       false},
      {"connection refused", {Error::Connection}, false, soap::errSoapConnectionRefused, false},
      {"proxy refused", {Error::Connection}, true, soap::errSoapProxy, false},
      {"connection late", {Error::Connection, false, 0, true}, false, soap::errSoapTimeout, false},
      {"connect time-out", {Error::ConnectionTimeout}, false, soap::errSoapTimeout, false},
      {"certificate refused", {Error::SSLServerVerification}, false, soap::errSoapTls, false},
      {"handshake failed", {Error::SSLConnection}, false, soap::errSoapTls, false},
      {"closed unanswered", {Error::Read}, false, soap::errSoapTransport, true},
      {"closed by the proxy", {Error::Read}, true, soap::errSoapProxy, true},
      {"closed after an error status",
       {Error::Read, false, 503},
       false,
       soap::errSoapHttpStatus,
       true},
      {"write failed", {Error::Write}, false, soap::errSoapTransport, true},
      {"read late", {Error::Read, false, 200, true}, false, soap::errSoapTimeout, true},
      {"stopped at the deadline",
       {Error::Canceled, false, 0, true},
       false,
       soap::errSoapTimeout,
       true},
      {"stopped otherwise", {Error::Canceled}, false, soap::errSoapTransport, true},
  };
  const soap::Url url = [] {
    soap::Url u;
    soap::ParseUrl("http://127.0.0.1:8000/svc", u);
    return u;
  }();
  const soap::ProxySettings settings;
  for (const Row& row : rows) {
    soap::Route route;
    if (row.viaProxy) {
      route.viaProxy = true;
      route.host = "127.0.0.1";
      route.port = 3128;
      route.shown = "http://127.0.0.1:3128";
    }
    const std::string target = "http://127.0.0.1:8000/svc";
    const soap::Blame blame{target, route, settings, 1000};
    bool mayHaveLeft = soap::RequestMayHaveLeft(row.outcome);
    int error = kNone;
    try {
      soap::FailOnRefusal(row.outcome, blame);
      if (!row.outcome.answered)
        soap::FailUnanswered(row.outcome, blame, 1 << 20, url, &mayHaveLeft);
    } catch (const Failure& f) {
      error = f.Number();
      EXPECT_NE(f.Description().find("127.0.0.1"), std::string::npos) << row.what;
    }
    EXPECT_EQ(error, row.error) << row.what;
    EXPECT_EQ(mayHaveLeft, row.mayHaveLeft) << row.what;
  }
}

}  // namespace
