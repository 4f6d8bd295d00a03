#pragma once
// Run-time errors of the program: a number and a description, raised for faults
// (overflow, invalid arguments, failed window operations, and the few platform
// answers a procedure must report: a rejected path, a drive not ready, a command
// that cannot start). Other failures of platform calls are ordinary results. The
// whole policy, and where errors are caught: docs/errors.md.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace tindra {

class AppError : public std::exception {
 public:
  AppError(int32_t number, std::u16string description);
  int32_t number() const noexcept { return number_; }
  const std::u16string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int32_t number_;
  std::u16string description_;
  std::string what_;
};

// Error numbers the program raises itself.
inline constexpr int32_t kErrInvalidCall = 5;         // "Invalid procedure call or argument"
inline constexpr int32_t kErrOverflow = 6;            // "Overflow"
inline constexpr int32_t kErrOutOfMemory = 7;         // "Out of memory"
inline constexpr int32_t kErrSubscript = 9;           // "Subscript out of range"
inline constexpr int32_t kErrInternal = 51;           // "Internal error"
inline constexpr int32_t kErrFileNotFound = 53;       // "File not found"
inline constexpr int32_t kErrBadFileName = 52;        // "Bad file name or number"
inline constexpr int32_t kErrDeviceUnavailable = 68;  // "Device unavailable"
inline constexpr int32_t kErrPathNotFound = 76;       // "Path not found"
// "Invalid property value", raised when a window operation fails.
inline constexpr int32_t kErrInvalidPropertyValue = 380;

// Inside a catch block: the program's error for what is being handled. An AppError
// as it is; running out of memory (std::bad_alloc, std::length_error) as error 7;
// any other exception as error 51. Every catch site translates through this.
AppError CurrentError() noexcept;

// The standard description of an error number ("Overflow" for 6, ...).
std::u16string ErrorDescription(int32_t number);

// Raises the error with its standard description.
[[noreturn]] void Raise(int32_t number);
[[noreturn]] void Raise(int32_t number, std::u16string description);

// "Error " + number + " (" + description + ") in procedure " + procedure + " of Module " + module
std::u16string ErrorMessage(const AppError& e, std::u16string_view procedure,
                            std::u16string_view module);

}  // namespace tindra
