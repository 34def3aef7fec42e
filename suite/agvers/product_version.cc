// The agent installed in a folder is the build that carries this library:
// the suite is always installed as one, so the version compiled into this
// library is the version of every agent binary beside it. The folder must
// exist, as a version resource can only be read from a file that is there.
#include <agsuite/agvers.h>
#include <sys/stat.h>

#include "platform/utf.h"

uint8_t GetProductVersion(const char16_t* folder, uint8_t parts[4]) {
  if (folder == nullptr || parts == nullptr) return 0;
  const auto path = platform::Utf16ToUtf8(folder);
  struct stat st {};
  if (!path || path->empty() || ::stat(path->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  parts[0] = AG_VERSION_MAJOR;
  parts[1] = AG_VERSION_MINOR;
  parts[2] = AG_VERSION_PATCH;
  parts[3] = AG_VERSION_TWEAK;
  return 1;
}
