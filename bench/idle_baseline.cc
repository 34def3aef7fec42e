// agidle_baseline: loads what the service host loads (libagcore.so and the
// device-id library from its own folder, which bring in the whole suite,
// SQLite, libcurl, OpenSSL and JsonCpp) and then only waits for SIGTERM. Its
// resident memory is the floor that agentsvc's idle memory is compared with
// in bench/table.sh.
#include <dlfcn.h>
#include <signal.h>

#include <cstdio>
#include <string>

#include "platform/folders.h"

int main() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  for (const char* name : {"libagcore.so", "libagdevid.so"}) {
    const std::string path = platform::ModuleFolder() + name;
    if (dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL) == nullptr) {
      std::fprintf(stderr, "agidle_baseline: %s\n", dlerror());
      return 1;
    }
  }
  std::puts("agidle_baseline: loaded");
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  return 0;
}
