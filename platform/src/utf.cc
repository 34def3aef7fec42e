#include "platform/utf.h"

#include <cstdint>

namespace platform {

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<uint8_t>(utf8[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t code = 0;
    uint32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
      return std::nullopt;  // continuation byte or 0xF8..0xFF as lead
    }
    if (utf8.size() - i < length) {
      return std::nullopt;
    }
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) {
        return std::nullopt;
      }
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, encoded surrogates and values past U+10FFFF are invalid.
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return std::nullopt;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    uint32_t code = utf16[i];
    if (code >= 0xDC00 && code <= 0xDFFF) {
      return std::nullopt;  // lone low surrogate
    }
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 >= utf16.size() || utf16[i + 1] < 0xDC00 || utf16[i + 1] > 0xDFFF) {
        return std::nullopt;  // high surrogate without its low half
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

size_t U16Length(const char16_t* text, size_t max_units) {
  if (text == nullptr) {
    return 0;
  }
  size_t length = 0;
  while (length < max_units && text[length] != u'\0') {
    ++length;
  }
  return length;
}

bool U16Copy(char16_t* buffer, size_t size_units, std::u16string_view source) {
  if (buffer == nullptr || size_units == 0) {
    return false;
  }
  if (source.size() >= size_units) {
    buffer[0] = u'\0';
    return false;
  }
  source.copy(buffer, source.size());
  buffer[source.size()] = u'\0';
  return true;
}

}  // namespace platform
