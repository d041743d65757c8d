#include "platform/namespace/ShellApi.h"

// 100 ns intervals between 1601-01-01 and 1970-01-01.
static constexpr int64_t kEpochDelta = 116444736000000000LL;
static constexpr int64_t kTicksPerSecond = 10000000LL;

uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
  // Times before 1601 cannot be expressed; they clamp to the start.
  if (seconds < -kEpochDelta / kTicksPerSecond) return 0;
  return static_cast<uint64_t>(seconds * kTicksPerSecond + kEpochDelta) + nanoseconds / 100;
}

FILETIME ToFileTime(uint64_t value) {
  return FILETIME{static_cast<uint32_t>(value & 0xFFFFFFFFu), static_cast<uint32_t>(value >> 32)};
}

uint64_t FromFileTime(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

double FileTimeToUnix(const FILETIME& ft) {
  uint64_t value = FromFileTime(ft);
  if (value == 0) return 0;
  return static_cast<double>(static_cast<int64_t>(value) - kEpochDelta) / kTicksPerSecond;
}
