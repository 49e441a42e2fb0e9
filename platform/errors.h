// Error numbers. Procedures return 0 for success or one of these 16-bit
// numbers: file-system error numbers as the operating system reports them,
// and the library's own numbers from 300.
#pragma once

#include <cstdint>

namespace zeb::err {

// File-system error numbers used by the library and the platform.
constexpr int16_t kOk = 0;
constexpr int16_t kEndOfFile = 1;
constexpr int16_t kInvalidOperation = 2;  // operation not allowed on this type file
constexpr int16_t kSystemMessage = 6;
constexpr int16_t kAlreadyExists = 10;
constexpr int16_t kNotFound = 11;  // file not in directory or record not in file
constexpr int16_t kFileInUse = 12;
constexpr int16_t kBadName = 13;  // illegal filename specification
constexpr int16_t kNoSuchDevice = 14;
constexpr int16_t kNotOpenFile = 16;    // file number has not been opened
constexpr int16_t kNoMoreDevices = 19;  // no more devices in logical device table
constexpr int16_t kBadCount = 21;
constexpr int16_t kOutOfBounds = 22;    // parameter or buffer address out of bounds
constexpr int16_t kWaitedFile = 25;     // AWAITIO or CANCEL on a file opened without nowait
constexpr int16_t kNoOutstanding = 26;  // AWAITIO with no outstanding operation
constexpr int16_t kTooManyNowait = 28;  // too many outstanding nowait operations for the file
constexpr int16_t kMissingParameter = 29;
constexpr int16_t kNoBufferSpace = 31;
constexpr int16_t kNoControlBlock = 34;
constexpr int16_t kTimedOut = 40;
constexpr int16_t kNoDiscSpace = 43;
constexpr int16_t kFileFull = 45;
constexpr int16_t kSecurityViolation = 48;
constexpr int16_t kNoMoreOpens = 61;    // no more file opens permitted on this volume or device
constexpr int16_t kInternalError = 53;  // file system internal error
constexpr int16_t kWriteProtected = 101;
constexpr int16_t kDeviceError = 190;
constexpr int16_t kPathDown = 201;  // the current path to the device is down

// The library's own numbers.
constexpr int16_t kQueueLinks = 300;
constexpr int16_t kEndOfQueue = 301;
constexpr int16_t kBadPoolSize = 302;
constexpr int16_t kPoolExhausted = 303;
constexpr int16_t kNotPoolBuffer = 304;
constexpr int16_t kPoolTags = 305;
constexpr int16_t kFreePoolCorrupt = 306;
constexpr int16_t kBadSegmentBase = 307;
constexpr int16_t kBadMessage = 308;
constexpr int16_t kNoStartup = 309;
constexpr int16_t kMonitorRefused = 310;
constexpr int16_t kCreationFailed = 311;
constexpr int16_t kBadTimer = 312;
constexpr int16_t kNotSameFile = 313;
constexpr int16_t kInvalidData = 314;
constexpr int16_t kBadNumber = 315;
constexpr int16_t kBadAddress = 316;
constexpr int16_t kNoSegment = 317;
constexpr int16_t kBufferTooSmall = 318;
constexpr int16_t kTerminalResponse = 319;
constexpr int16_t kNot6530 = 320;

}  // namespace zeb::err
