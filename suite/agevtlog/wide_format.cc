#include "wide_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace agevtlog {
namespace {

void AppendCodePoint(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Converts `count` units (or up to the terminator when count is npos).
void AppendUtf16(std::string& out, const char16_t* text, size_t count) {
  for (size_t i = 0; i < count && text[i] != 0; ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendCodePoint(out, 0xFFFD);
    } else {
      AppendCodePoint(out, unit);
    }
  }
}

template <typename T>
void AppendFormatted(std::string& out, const std::string& conversion, T value) {
  char small[128];
  int n = std::snprintf(small, sizeof small, conversion.c_str(), value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out.append(small, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), conversion.c_str(), value);
  out.append(big.data(), static_cast<size_t>(n));
}

bool IsFlag(char16_t c) { return c == u'-' || c == u'+' || c == u' ' || c == u'#' || c == u'0'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

std::string WideToUtf8(const char16_t* text) {
  std::string out;
  if (text == nullptr) return "(null)";
  AppendUtf16(out, text, std::string_view::npos);
  return out;
}

std::string FormatWide(const char16_t* format, va_list args) {
  std::string out;
  if (format == nullptr) return out;
  const char16_t* p = format;
  while (*p != 0) {
    if (*p != u'%') {
      const char16_t* start = p;
      while (*p != 0 && *p != u'%') ++p;
      AppendUtf16(out, start, static_cast<size_t>(p - start));
      continue;
    }
    ++p;  // past '%'
    if (*p == u'%') {
      out += '%';
      ++p;
      continue;
    }
    // The narrow conversion we hand to snprintf; '*' values are resolved here so
    // that only one argument follows the conversion.
    std::string conversion = "%";
    while (IsFlag(*p)) conversion += static_cast<char>(*p++);
    if (*p == u'*') {
      conversion += std::to_string(va_arg(args, int));
      ++p;
    } else {
      while (IsDigit(*p)) conversion += static_cast<char>(*p++);
    }
    if (*p == u'.') {
      conversion += '.';
      ++p;
      if (*p == u'*') {
        int precision = va_arg(args, int);
        conversion += std::to_string(precision < 0 ? 0 : precision);
        ++p;
      } else {
        while (IsDigit(*p)) conversion += static_cast<char>(*p++);
      }
    }
    std::string length;
    while (*p == u'h' || *p == u'l' || *p == u'L' || *p == u'z' || *p == u'j' || *p == u't' || *p == u'q') {
      length += static_cast<char>(*p++);
    }
    const char16_t conv = *p;
    if (conv == 0) break;  // a dangling '%' at the end is dropped
    ++p;
    switch (conv) {
      case u'd':
      case u'i':
      case u'u':
      case u'o':
      case u'x':
      case u'X': {
        const bool is_signed = conv == u'd' || conv == u'i';
        std::string s = conversion + length + static_cast<char>(conv);
        if (length == "l") {
          is_signed ? AppendFormatted(out, s, va_arg(args, long)) : AppendFormatted(out, s, va_arg(args, unsigned long));
        } else if (length == "ll" || length == "q") {
          s = conversion + "ll" + static_cast<char>(conv);
          is_signed ? AppendFormatted(out, s, va_arg(args, long long))
                    : AppendFormatted(out, s, va_arg(args, unsigned long long));
        } else if (length == "z") {
          is_signed ? AppendFormatted(out, s, va_arg(args, ptrdiff_t)) : AppendFormatted(out, s, va_arg(args, size_t));
        } else if (length == "j") {
          is_signed ? AppendFormatted(out, s, va_arg(args, intmax_t)) : AppendFormatted(out, s, va_arg(args, uintmax_t));
        } else if (length == "t") {
          AppendFormatted(out, s, va_arg(args, ptrdiff_t));
        } else {
          // h and hh arguments arrive promoted to int.
          is_signed ? AppendFormatted(out, s, va_arg(args, int)) : AppendFormatted(out, s, va_arg(args, unsigned));
        }
        break;
      }
      case u'f':
      case u'F':
      case u'e':
      case u'E':
      case u'g':
      case u'G':
      case u'a':
      case u'A':
        if (length == "L") {
          AppendFormatted(out, conversion + "L" + static_cast<char>(conv), va_arg(args, long double));
        } else {
          AppendFormatted(out, conversion + static_cast<char>(conv), va_arg(args, double));
        }
        break;
      case u'p':
        AppendFormatted(out, conversion + "p", va_arg(args, void*));
        break;
      case u'c':
      case u'C': {
        const char16_t unit[2] = {static_cast<char16_t>(va_arg(args, int)), 0};
        AppendFormatted(out, conversion + "s", WideToUtf8(unit).c_str());
        break;
      }
      case u's':
      case u'S':
        AppendFormatted(out, conversion + "s", WideToUtf8(va_arg(args, const char16_t*)).c_str());
        break;
      case u'n':
        (void)va_arg(args, void*);
        break;
      default:
        // Unknown conversion: keep it visible rather than guessing an argument.
        out += '%';
        AppendUtf16(out, &conv, 1);
        break;
    }
  }
  return out;
}

}  // namespace agevtlog
