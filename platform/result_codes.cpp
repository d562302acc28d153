#include "platform/result_codes.h"

#include <cerrno>

namespace selvane {

ResultCode ResultFromErrno(int err, bool writing) {
  switch (err) {
    case 0: return kSuccess;
    case ENOENT: return kFileNotFound;
    case ENOTDIR: return kPathNotFound;
    case EMFILE:
    case ENFILE: return kTooManyOpenFiles;
    case EACCES:
    case EPERM: return kAccessDenied;
    case EBADF: return kInvalidHandle;
    case ENOMEM: return kNotEnoughMemory;
    case EROFS: return kWriteProtect;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM: return kNotReady;
    case ESPIPE: return kSeekError;
    case EIO: return writing ? kWriteFault : kReadFault;
    case ETXTBSY: return kSharingViolation;
    case EOPNOTSUPP: return kNotSupported;
    case EINVAL:
    case EFBIG:
    case EOVERFLOW: return kInvalidParameter;
    case ENOSPC:
    case EDQUOT: return kDiskFull;
    case EBUSY: return kBusy;
    case EEXIST: return kAlreadyExists;
    case ENAMETOOLONG: return kFilenameTooLong;
    default: return writing ? kWriteFault : kReadFault;
  }
}

ResultCode LastResult(bool writing) { return ResultFromErrno(errno, writing); }

std::string ResultMessage(ResultCode code) {
  switch (code) {
    case kSuccess: return "The operation completed successfully.";
    case kInvalidFunction: return "Incorrect function.";
    case kFileNotFound: return "The system cannot find the file specified.";
    case kPathNotFound: return "The system cannot find the path specified.";
    case kTooManyOpenFiles: return "The system cannot open the file: too many files are open.";
    case kAccessDenied: return "Access is denied.";
    case kInvalidHandle: return "The handle is invalid.";
    case kNotEnoughMemory: return "Not enough memory resources are available to process this command.";
    case kWriteProtect: return "The media is write protected.";
    case kNotReady: return "The device is not ready.";
    case kSeekError: return "The drive cannot locate a specific area or track on the disk.";
    case kWriteFault: return "The system cannot write to the specified device.";
    case kReadFault: return "The system cannot read from the specified device.";
    case kSharingViolation: return "The process cannot access the file because it is being used by another process.";
    case kHandleEof: return "Reached the end of the file.";
    case kNotSupported: return "The request is not supported.";
    case kFileExists: return "The file exists.";
    case kInvalidParameter: return "The parameter is incorrect.";
    case kDiskFull: return "There is not enough space on the disk.";
    case kBusy: return "The requested resource is in use.";
    case kAlreadyExists: return "Cannot create a file when that file already exists.";
    case kFilenameTooLong: return "The filename or extension is too long.";
    case kIoDevice: return "The request could not be performed because of an I/O device error.";
    case kScanStopCode: return "The operation was cancelled.";
    default: return "Unknown error " + std::to_string(code) + ".";
  }
}

}  // namespace selvane
