#include "test_ca.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace transport_test {

bool TestCa::Create(std::string* error) {
  const std::string dir = folder_.path();
  {
    std::ofstream ext(dir + "/server.ext");
    ext << "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
           "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n";
  }
  const std::string openssl = OPENSSL_PATH;
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  const std::string commands[] = {
      openssl + " req -x509" + key + "-keyout " + dir + "/ca.key -out " + dir + "/ca.pem -days 2 -subj /CN=AgTestCA",
      openssl + " req -x509" + key + "-keyout " + dir + "/other-ca.key -out " + dir +
          "/other-ca.pem -days 2 -subj /CN=AgOtherCA",
      openssl + " req" + key + "-keyout " + dir + "/server.key -out " + dir + "/server.csr -subj /CN=127.0.0.1",
      openssl + " x509 -req -in " + dir + "/server.csr -CA " + dir + "/ca.pem -CAkey " + dir +
          "/ca.key -CAcreateserial -out " + dir + "/server.pem -days 2 -extfile " + dir + "/server.ext",
  };
  for (const std::string& command : commands) {
    const std::string logged = command + " >>" + dir + "/openssl.log 2>&1";
    if (std::system(logged.c_str()) != 0) {
      std::ifstream log(dir + "/openssl.log");
      *error = command + " failed: " + std::string(std::istreambuf_iterator<char>(log), {});
      return false;
    }
  }
  return true;
}

}  // namespace transport_test
