// The formatter behind the UTF-16 twin of the event log: a printf-style
// format given as UTF-16 whose %s / %ls (and %c / %lc) arguments are UTF-16
// too. The result is UTF-8. Every other conversion behaves as in printf; %n is
// not supported (its argument is consumed and ignored). Width and precision
// of a text conversion count UTF-8 bytes.
#pragma once

#include <cstdarg>
#include <string>

namespace agevtlog {

[[nodiscard]] std::string FormatWide(const char16_t* format, va_list args);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD so a bad text still
// leaves a readable log line. A null text reads as "(null)", as printf does.
[[nodiscard]] std::string WideToUtf8(const char16_t* text);

}  // namespace agevtlog
