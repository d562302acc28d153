// Result codes shared by every layer. They keep the numeric values of the
// Windows error codes the recovery engines were designed around, so a code read
// in a log or a message means the same on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace selvane {

using ResultCode = int32_t;

inline constexpr ResultCode kSuccess = 0;
inline constexpr ResultCode kInvalidFunction = 1;
inline constexpr ResultCode kFileNotFound = 2;
inline constexpr ResultCode kPathNotFound = 3;
inline constexpr ResultCode kTooManyOpenFiles = 4;
inline constexpr ResultCode kAccessDenied = 5;
inline constexpr ResultCode kInvalidHandle = 6;
inline constexpr ResultCode kNotEnoughMemory = 8;
inline constexpr ResultCode kWriteProtect = 19;
inline constexpr ResultCode kNotReady = 21;
inline constexpr ResultCode kSeekError = 25;
inline constexpr ResultCode kWriteFault = 29;       // also: cluster larger than 104,857,600 bytes
inline constexpr ResultCode kReadFault = 30;        // a read that delivered no data
inline constexpr ResultCode kSharingViolation = 32;
inline constexpr ResultCode kHandleEof = 38;
inline constexpr ResultCode kNotSupported = 50;
inline constexpr ResultCode kFileExists = 80;
inline constexpr ResultCode kInvalidParameter = 87;  // a request outside the data
inline constexpr ResultCode kDiskFull = 112;
inline constexpr ResultCode kBusy = 170;
inline constexpr ResultCode kAlreadyExists = 183;
inline constexpr ResultCode kFilenameTooLong = 206;
inline constexpr ResultCode kIoDevice = 1117;
inline constexpr ResultCode kScanStopCode = -9527;  // a callback stopped the operation

// Maps an errno value to the result code that means the same thing.
// `writing` tells apart EIO on a read (30) from EIO on a write (29).
ResultCode ResultFromErrno(int err, bool writing = false);

// Shorthand for ResultFromErrno(errno).
ResultCode LastResult(bool writing = false);

// The English message shown for a result code ("system message").
std::string ResultMessage(ResultCode code);

}  // namespace selvane
