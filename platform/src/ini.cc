#include "platform/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "file_lock.h"
#include "platform/utf.h"
#include "unique_fd.h"

namespace platform {
namespace {

// Files larger than this are not profiles; reading one gives defaults and
// writing fails, instead of the agent taking the whole file into memory.
constexpr size_t kMaxFileBytes = 32u << 20;
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
// Mode of a file that a write creates.
constexpr mode_t kNewFileMode = 0644;

// One line of the file. Lines that are neither a section header nor a
// key=value pair (comments, garbage, text that is not UTF-8) keep their bytes
// so a rewrite leaves them as they were.
struct Line {
  enum class Kind { kSection, kKey, kOther } kind = Kind::kOther;
  std::u16string name;   // section or key, trimmed
  std::u16string value;  // key only, trimmed
  std::string raw;       // the bytes as read (without the line end); empty when changed
};

struct Profile {
  std::vector<Line> lines;
  bool crlf = false;  // the file used CR LF line ends; a rewrite keeps them
  // The file began with a byte-order mark (UTF-8, or UTF-16 turned into
  // UTF-8). A rewrite writes a UTF-8 one: without it, a first line that
  // itself starts with a mark's bytes would be taken for one on the next
  // read, and the file would change its meaning.
  bool byte_order_mark = false;
};

// Every profile access takes this lock: the agent's threads share INI files
// and a write is read-modify-replace. Other processes (the agent's tools and
// installers) write the same files: a write also holds the file's lock file
// (<file>.lock, see file_lock.h) from its read to its rename, so that no
// process loses another's update.
std::mutex& ProfileMutex() {
  static std::mutex mutex;
  return mutex;
}

char16_t Fold(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
    return static_cast<char16_t>(c + 32);
  }
  return c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) {
      return false;
    }
  }
  return true;
}

std::u16string_view Trim(std::u16string_view text) {
  const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// Windows drops trailing blanks of a default value, not leading ones.
std::u16string_view TrimEnd(std::u16string_view text) {
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) {
    text.remove_suffix(1);
  }
  return text;
}

std::optional<std::string> FilePath(const char16_t* file) {
  if (file == nullptr) {
    return std::nullopt;
  }
  auto path = Utf16ToUtf8(std::u16string_view(file, U16Length(file, 32768)));
  if (!path || path->empty()) {
    return std::nullopt;
  }
  // Callers build paths with Windows separators.
  for (char& c : *path) {
    if (c == '\\') {
      c = '/';
    }
  }
  return path;
}

Line ParseLine(std::string raw) {
  Line line;
  auto text = Utf8ToUtf16(raw);
  line.raw = std::move(raw);
  if (!text) {
    return line;
  }
  const std::u16string_view trimmed = Trim(*text);
  if (trimmed.starts_with(u'[')) {
    const size_t close = trimmed.find(u']');
    line.kind = Line::Kind::kSection;
    line.name = Trim(trimmed.substr(1, close == std::u16string_view::npos ? std::u16string_view::npos : close - 1));
    return line;
  }
  if (trimmed.starts_with(u';') || trimmed.starts_with(u'#')) {
    return line;
  }
  const size_t equals = trimmed.find(u'=');
  if (equals == std::u16string_view::npos || equals == 0) {
    return line;
  }
  line.kind = Line::Kind::kKey;
  line.name = Trim(trimmed.substr(0, equals));
  line.value = Trim(trimmed.substr(equals + 1));
  return line;
}

// Reads the file; nullopt when it exists but cannot be read. A missing file
// is an empty profile.
std::optional<Profile> Load(const std::string& path) {
  Profile profile;
  internal::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    return errno == ENOENT ? std::optional<Profile>(profile) : std::nullopt;
  }
  struct stat info {};
  if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || static_cast<size_t>(info.st_size) > kMaxFileBytes) {
    return std::nullopt;
  }
  std::string bytes(static_cast<size_t>(info.st_size), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = read(fd.Get(), bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;  // shrank while reading: take what is there
    }
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
    // UTF-16LE, as Windows tools write profiles; turned into UTF-8 lines.
    std::u16string wide((bytes.size() - 2) / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i) {
      wide[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 + 2 * i]) |
                                      (static_cast<uint8_t>(bytes[3 + 2 * i]) << 8));
    }
    auto narrow = Utf16ToUtf8(wide);
    if (!narrow) {
      return std::nullopt;
    }
    bytes = std::move(*narrow);
    profile.byte_order_mark = true;
  } else if (bytes.starts_with(kUtf8ByteOrderMark)) {
    bytes.erase(0, kUtf8ByteOrderMark.size());
    profile.byte_order_mark = true;
  }
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) {
      end = bytes.size();
    }
    std::string raw = bytes.substr(start, end - start);
    if (!raw.empty() && raw.back() == '\r') {
      raw.pop_back();
      profile.crlf = true;
    }
    profile.lines.push_back(ParseLine(std::move(raw)));
    start = end + 1;
  }
  return profile;
}

bool Store(const std::string& path, const Profile& profile) {
  std::string text(profile.byte_order_mark ? kUtf8ByteOrderMark : std::string_view());
  const char* end = profile.crlf ? "\r\n" : "\n";
  for (const Line& line : profile.lines) {
    if (!line.raw.empty() || line.kind == Line::Kind::kOther) {
      text += line.raw;
    } else if (line.kind == Line::Kind::kSection) {
      text += "[" + Utf16ToUtf8(line.name).value_or("") + "]";
    } else {
      text += Utf16ToUtf8(line.name).value_or("") + "=" + Utf16ToUtf8(line.value).value_or("");
    }
    text += end;
  }
  // Readers never see a half-written file: write a sibling, then rename. The
  // sibling's name is unique and created exclusively (mkstemp: O_EXCL, so a
  // planted file or symlink is never written through), and it takes the
  // owner and mode of the file it replaces.
  std::string temporary = path + ".XXXXXX";
  internal::UniqueFd fd(mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.Valid()) {
    return false;
  }
  struct stat original {};
  if (lstat(path.c_str(), &original) == 0 && S_ISREG(original.st_mode)) {
    // Changing the owner needs privileges the writer may not have; the file
    // then becomes the writer's, as any rewrite by that user would make it.
    static_cast<void>(fchown(fd.Get(), original.st_uid, original.st_gid));
    fchmod(fd.Get(), original.st_mode & 07777);
  } else {
    fchmod(fd.Get(), kNewFileMode);
  }
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd.Get(), text.data() + written, text.size() - written);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) {
        continue;
      }
      unlink(temporary.c_str());
      return false;
    }
    written += static_cast<size_t>(n);
  }
  if (fsync(fd.Get()) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

// Index of the first section called `name`, or lines.size().
size_t FindSection(const Profile& profile, std::u16string_view name) {
  for (size_t i = 0; i < profile.lines.size(); ++i) {
    if (profile.lines[i].kind == Line::Kind::kSection && SameName(profile.lines[i].name, name)) {
      return i;
    }
  }
  return profile.lines.size();
}

// One past the last line of the section starting at `header`.
size_t SectionEnd(const Profile& profile, size_t header) {
  size_t i = header + 1;
  while (i < profile.lines.size() && profile.lines[i].kind != Line::Kind::kSection) {
    ++i;
  }
  return i;
}

size_t FindKey(const Profile& profile, size_t header, std::u16string_view key) {
  const size_t end = SectionEnd(profile, header);
  for (size_t i = header + 1; i < end; ++i) {
    if (profile.lines[i].kind == Line::Kind::kKey && SameName(profile.lines[i].name, key)) {
      return i;
    }
  }
  return profile.lines.size();
}

std::u16string Unquote(std::u16string_view value) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::u16string(value);
}

std::u16string_view View(const char16_t* text) {
  return text != nullptr ? std::u16string_view(text, U16Length(text, 1u << 20)) : std::u16string_view();
}

// The value of section/key, or nullopt when the file, section or key is missing.
std::optional<std::u16string> ReadValue(const char16_t* section, const char16_t* key, const char16_t* file) {
  const auto path = FilePath(file);
  if (!path) {
    return std::nullopt;
  }
  std::lock_guard lock(ProfileMutex());
  const auto profile = Load(*path);
  if (!profile) {
    return std::nullopt;
  }
  const size_t header = FindSection(*profile, View(section));
  if (header == profile->lines.size()) {
    return std::nullopt;
  }
  const size_t line = FindKey(*profile, header, View(key));
  if (line == profile->lines.size()) {
    return std::nullopt;
  }
  return Unquote(profile->lines[line].value);
}

// Section names (section null) or the keys of a section, each followed by a
// NUL, the whole followed by one more NUL.
std::u16string ReadNameList(const char16_t* section, const char16_t* file) {
  std::u16string list;
  const auto path = FilePath(file);
  if (!path) {
    return list;
  }
  std::lock_guard lock(ProfileMutex());
  const auto profile = Load(*path);
  if (!profile) {
    return list;
  }
  size_t begin = 0;
  size_t end = profile->lines.size();
  if (section != nullptr) {
    begin = FindSection(*profile, View(section));
    if (begin == profile->lines.size()) {
      return list;
    }
    end = SectionEnd(*profile, begin);
    ++begin;
  }
  const Line::Kind wanted = section == nullptr ? Line::Kind::kSection : Line::Kind::kKey;
  for (size_t i = begin; i < end; ++i) {
    if (profile->lines[i].kind == wanted) {
      list += profile->lines[i].name;
      list += u'\0';
    }
  }
  return list;
}

bool HasLineBreak(std::u16string_view text) { return text.find_first_of(u"\r\n") != std::u16string_view::npos; }

}  // namespace

uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* default_value,
                                  char16_t* buffer, uint32_t size_units, const char16_t* file) {
  if (buffer == nullptr || size_units == 0) {
    return 0;
  }
  if (section == nullptr || key == nullptr) {
    // A list of names does not fit: as on Windows it is cut and still ends
    // in two NULs, and the result is size - 2.
    const std::u16string list = ReadNameList(section, file);
    if (list.size() + 1 <= size_units) {
      list.copy(buffer, list.size());
      buffer[list.size()] = u'\0';
      return static_cast<uint32_t>(list.size());
    }
    if (size_units < 2) {
      buffer[0] = u'\0';
      return 0;
    }
    list.copy(buffer, size_units - 2);
    buffer[size_units - 2] = u'\0';
    buffer[size_units - 1] = u'\0';
    return size_units - 2;
  }
  const std::u16string value = ReadValue(section, key, file).value_or(std::u16string(TrimEnd(View(default_value))));
  const size_t units = std::min<size_t>(value.size(), size_units - 1);
  value.copy(buffer, units);
  buffer[units] = u'\0';
  return static_cast<uint32_t>(units);
}

uint32_t GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int32_t default_value,
                               const char16_t* file) {
  const auto value = ReadValue(section, key, file);
  if (!value || value->empty()) {
    return static_cast<uint32_t>(default_value);
  }
  // As on Windows: the leading decimal number, 0 when there is none.
  size_t i = 0;
  const bool negative = (*value)[0] == u'-';
  if (negative || (*value)[0] == u'+') {
    ++i;
  }
  uint32_t number = 0;
  for (; i < value->size() && (*value)[i] >= u'0' && (*value)[i] <= u'9'; ++i) {
    number = number * 10 + static_cast<uint32_t>((*value)[i] - u'0');
  }
  return negative ? 0u - number : number;
}

bool WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* value,
                                const char16_t* file) {
  const auto path = FilePath(file);
  if (!path || section == nullptr) {
    return false;
  }
  const std::u16string_view section_name = Trim(View(section));
  const std::u16string_view key_name = Trim(View(key));
  if (section_name.find(u']') != std::u16string_view::npos || HasLineBreak(section_name) ||
      (key != nullptr && (key_name.empty() || key_name.find(u'=') != std::u16string_view::npos ||
                          HasLineBreak(key_name))) ||
      HasLineBreak(View(value)) || !Utf16ToUtf8(section_name) || !Utf16ToUtf8(key_name) ||
      !Utf16ToUtf8(View(value))) {
    return false;  // would not read back as written
  }
  std::lock_guard lock(ProfileMutex());
  const auto file_lock = internal::FileLock::Acquire(*path + ".lock");
  if (!file_lock) {
    return false;
  }
  auto profile = Load(*path);
  if (!profile) {
    return false;
  }
  std::vector<Line>& lines = profile->lines;
  size_t header = FindSection(*profile, section_name);
  if (key == nullptr) {
    if (header == lines.size()) {
      return true;  // nothing to delete, and no reason to touch the file
    }
    lines.erase(lines.begin() + static_cast<ptrdiff_t>(header),
                lines.begin() + static_cast<ptrdiff_t>(SectionEnd(*profile, header)));
    return Store(*path, *profile);
  }
  if (header == lines.size()) {
    if (value == nullptr) {
      return true;
    }
    lines.push_back(Line{Line::Kind::kSection, std::u16string(section_name), {}, {}});
  }
  const size_t existing = FindKey(*profile, header, key_name);
  if (value == nullptr) {
    if (existing == lines.size()) {
      return true;
    }
    lines.erase(lines.begin() + static_cast<ptrdiff_t>(existing));
  } else if (existing != lines.size()) {
    lines[existing].value = View(value);
    lines[existing].raw.clear();
  } else {
    // New keys go after the section's last key, ahead of trailing blank or
    // comment lines that visually belong to the next section.
    size_t insert = header + 1;
    for (size_t i = header + 1; i < SectionEnd(*profile, header); ++i) {
      if (lines[i].kind == Line::Kind::kKey) {
        insert = i + 1;
      }
    }
    lines.insert(lines.begin() + static_cast<ptrdiff_t>(insert),
                 Line{Line::Kind::kKey, std::u16string(key_name), std::u16string(View(value)), {}});
  }
  return Store(*path, *profile);
}

bool GetPrivateProfileStructW(const char16_t* section, const char16_t* key, void* data, uint32_t size,
                              const char16_t* file) {
  if (data == nullptr || section == nullptr || key == nullptr) {
    return false;
  }
  const auto value = ReadValue(section, key, file);
  if (!value || value->size() != 2 * static_cast<size_t>(size) + 2) {
    return false;
  }
  const auto nibble = [](char16_t c) -> int {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
  };
  std::vector<uint8_t> bytes(size + 1);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int high = nibble((*value)[2 * i]);
    const int low = nibble((*value)[2 * i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  uint8_t checksum = 0;
  for (uint32_t i = 0; i < size; ++i) {
    checksum = static_cast<uint8_t>(checksum + bytes[i]);
  }
  if (checksum != bytes[size]) {
    return false;
  }
  std::copy(bytes.begin(), bytes.begin() + size, static_cast<uint8_t*>(data));
  return true;
}

bool WritePrivateProfileStructW(const char16_t* section, const char16_t* key, const void* data, uint32_t size,
                                const char16_t* file) {
  if (data == nullptr) {
    return WritePrivateProfileStringW(section, key, nullptr, file);
  }
  constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string text;
  text.reserve(2 * static_cast<size_t>(size) + 2);
  uint8_t checksum = 0;
  const auto append = [&](uint8_t byte) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0xF]);
  };
  for (uint32_t i = 0; i < size; ++i) {
    const uint8_t byte = static_cast<const uint8_t*>(data)[i];
    checksum = static_cast<uint8_t>(checksum + byte);
    append(byte);
  }
  append(checksum);
  return WritePrivateProfileStringW(section, key, text.c_str(), file);
}

}  // namespace platform
