// Built into programs that serve HTTP through Debian's cpp-httplib when they
// are built with ThreadSanitizer. That library is not instrumented: the
// sanitizer sees its memcpy/memcmp through interceptors but not the locks and
// atomics that order them, and reports races between two server threads that
// do not exist. Reports from our own code are kept. The runtime looks the
// hook up by name, so it must be exported.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\n";
}
