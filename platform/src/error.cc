#include "platform/error.h"

#include <cerrno>

namespace platform {

uint32_t ErrorFromErrno(int posix_errno) {
  switch (posix_errno) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
    case ENXIO:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENAMETOOLONG:
      return kErrorInvalidName;
    case EEXIST:
      return kErrorAlreadyExists;
    default:
      return 0x20000000u | static_cast<uint32_t>(posix_errno);
  }
}

std::string ErrorText(uint32_t code) {
  switch (code) {
    case kErrorSuccess:
      return "success";
    case kErrorFileNotFound:
      return "not found";
    case kErrorPathNotFound:
      return "path not found";
    case kErrorAccessDenied:
      return "access denied";
    case kErrorInvalidHandle:
      return "invalid handle (name in use by another kind of object)";
    case kErrorNotEnoughMemory:
      return "not enough memory";
    case kErrorInvalidData:
      return "invalid data";
    case kErrorInvalidParameter:
      return "invalid parameter";
    case kErrorInsufficientBuffer:
      return "buffer too small";
    case kErrorInvalidName:
      return "invalid name";
    case kErrorAlreadyExists:
      return "already exists";
    case kErrorMoreData:
      return "more data";
    case kErrorUnsupportedType:
      return "unsupported value type";
    default:
      if ((code & 0x20000000u) != 0) {
        return "system error " + std::to_string(code & ~0x20000000u);
      }
      return "error " + std::to_string(code);
  }
}

}  // namespace platform
