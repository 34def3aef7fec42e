// Fuzz target of the OTP file reader ("dcotp.ini", written by the protection
// product): any content gives a defined answer, and an OTP found is always
// exactly its fixed length and taken from in front of the last '='.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/config/otp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string otp;
  switch (OtpFromFileText(text, &otp)) {
    case OtpTextResult::kFound: {
      const size_t marker = text.rfind('=');
      if (otp.size() != kOtpLength || text.substr(marker - kOtpLength, kOtpLength) != otp) std::abort();
      break;
    }
    case OtpTextResult::kNoMarker:
      if (text.find('=') != std::string_view::npos || !otp.empty()) std::abort();
      break;
    case OtpTextResult::kTooShort:
      if (text.rfind('=') >= kOtpLength || !otp.empty()) std::abort();
      break;
  }
  return 0;
}
