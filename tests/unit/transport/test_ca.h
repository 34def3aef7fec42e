// A throw-away certificate authority made with the openssl command line: a CA,
// a server certificate for 127.0.0.1 (only) signed by it, and an unrelated
// second CA for verification failures.
#pragma once

#include <string>

#include "cssim_fixture.h"

namespace transport_test {

class TestCa {
 public:
  // Creates the files; false (with the commands' output in `error`) on failure.
  [[nodiscard]] bool Create(std::string* error);
  [[nodiscard]] std::string ca_file() const { return folder_.path() + "/ca.pem"; }
  [[nodiscard]] std::string other_ca_file() const { return folder_.path() + "/other-ca.pem"; }
  [[nodiscard]] std::string server_cert() const { return folder_.path() + "/server.pem"; }
  [[nodiscard]] std::string server_key() const { return folder_.path() + "/server.key"; }

 private:
  TempFolder folder_;
};

}  // namespace transport_test
