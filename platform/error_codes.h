#pragma once
// The Windows error codes that portable code tells apart in a PlatformError,
// in one place, so that no layer has to include <windows.h> for them.
#include <cstdint>

namespace zyp::platform {

inline constexpr std::uint32_t kErrorFileNotFound = 2;        // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kErrorPathNotFound = 3;        // ERROR_PATH_NOT_FOUND
inline constexpr std::uint32_t kErrorAccessDenied = 5;        // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kErrorSemaphoreTimeout = 121;  // ERROR_SEM_TIMEOUT
inline constexpr std::uint32_t kErrorDirNotEmpty = 145;       // ERROR_DIR_NOT_EMPTY
inline constexpr std::uint32_t kErrorAlreadyExists = 183;     // ERROR_ALREADY_EXISTS
inline constexpr std::uint32_t kErrorPipeBusy = 231;          // ERROR_PIPE_BUSY
inline constexpr std::uint32_t kErrorTimeout = 1460;          // ERROR_TIMEOUT

}  // namespace zyp::platform
