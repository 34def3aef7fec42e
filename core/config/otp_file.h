// The text of "dcotp.ini", which the protection product writes after it
// applied an OTP: the OTP is the fixed-length run of characters in front of
// the file's last '='. The file is not the agent's: any content must give a
// defined answer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t kOtpLength = 10;
// A larger file is not an OTP file; it is not read into memory.
inline constexpr size_t kOtpFileMaxBytes = 64 * 1024;

enum class OtpTextResult { kFound, kNoMarker, kTooShort };

// kFound sets `otp` to the kOtpLength characters before the last '='.
OtpTextResult OtpFromFileText(std::string_view text, std::string* otp);
