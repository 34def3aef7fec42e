// Fuzz target of the INI reader and rewriter (agadv.ini, section.ini,
// buildinf.ini, the product's result files): any file content must read
// without a crash or unbounded work, and a write into it must read back as
// written while every other section keeps its values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_scratch.h"
#include "platform/ini.h"
#include "platform/utf.h"

namespace {

constexpr uint32_t kBufferUnits = 4096;
// Names looked up per list (sections of the file, keys of a section).
constexpr size_t kMaxNamesVisited = 2;

std::u16string Read(const char16_t* section, const char16_t* key, const char16_t* file) {
  static char16_t buffer[kBufferUnits];
  const uint32_t length =
      platform::GetPrivateProfileStringW(section, key, u"<none>", buffer, kBufferUnits, file);
  if (length >= kBufferUnits) std::abort();
  return std::u16string(buffer, length);
}

// The NUL-separated names of a list answer.
template <typename Visit>
void ForEachName(const std::u16string& list, Visit visit) {
  size_t visited = 0;
  for (size_t start = 0; start < list.size() && visited < kMaxNamesVisited; ++visited) {
    const size_t end = list.find(u'\0', start);
    const std::u16string name = list.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
    visit(name);
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFolder scratch;
  static const std::u16string file = *platform::Utf8ToUtf16(scratch.Path() + "fuzzed.ini");
  fuzz::WriteWholeFile(scratch.Path() + "fuzzed.ini", data, size);

  // Every call reads and parses the whole file again, so the reads per input
  // are what bound this target's rate. The first two sections and the first
  // two keys of each are looked up by name: the parse each lookup makes is
  // the same whichever name it looks for, and the mutations reach every
  // position of a file through its first names. A key's number is read only
  // for the first key of a section (the number reader sees the same value
  // text whichever key it comes from).
  ForEachName(Read(nullptr, nullptr, file.c_str()), [&](const std::u16string& section) {
    bool first_key = true;
    ForEachName(Read(section.c_str(), nullptr, file.c_str()), [&](const std::u16string& key) {
      Read(section.c_str(), key.c_str(), file.c_str());
      if (first_key) platform::GetPrivateProfileIntW(section.c_str(), key.c_str(), -1, file.c_str());
      first_key = false;
    });
  });
  // buildinf.ini's keys, as the build check (`IsBuildAvailable`) reads them.
  for (const char16_t* key : {u"download", u"clean.exe"}) Read(u"agbldn_info", key, file.c_str());

  // A rewrite: the new value reads back, an untouched key keeps its value.
  const std::u16string before = Read(u"agbldn_info", u"build.exe", file.c_str());
  if (platform::WritePrivateProfileStringW(u"fuzz section", u"fuzz key", u"value 1", file.c_str())) {
    if (Read(u"fuzz section", u"fuzz key", file.c_str()) != u"value 1") std::abort();
    if (Read(u"agbldn_info", u"build.exe", file.c_str()) != before) std::abort();
  }
  return 0;
}
