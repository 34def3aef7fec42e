#include "core/config/otp_file.h"

OtpTextResult OtpFromFileText(std::string_view text, std::string* otp) {
  const size_t marker = text.rfind('=');
  if (marker == std::string_view::npos) return OtpTextResult::kNoMarker;
  if (marker < kOtpLength) return OtpTextResult::kTooShort;
  otp->assign(text.substr(marker - kOtpLength, kOtpLength));
  return OtpTextResult::kFound;
}
