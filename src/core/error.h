// core/ holds what every layer shares: this error type and the program's
// error numbers, dates (datetime.h), rounding (round.h) and the launch
// records start-up fills (params.h).
//
// The program's one error type: a number and a description, as the database
// engine reports them, plus an optional cause (a path, a system message) that
// the message sink prints under the description. Thrown by every layer and
// caught where the program decides what a failure means (the archive run,
// start-up).
#pragma once

#include <exception>
#include <string>
#include <type_traits>

namespace sa {

// Error numbers raised by the program itself (start-up, the settings file,
// files and folders, the run); the engine's are dbengine::EngineError. Each
// number has one meaning across the program.
enum class ErrorCode : long {
  kOverflow = 6,  // a number outside the target type's range
  kOutOfMemory = 7,
  kTooManyPairs = 9,   // settings file with more than 151 pairs
  kTypeMismatch = 13,  // a text that does not convert
  kInternal = 51,      // an unexpected failure of any other kind
  kFileNotFound = 53,
  kInputPastEnd = 62,  // a text file ended where an item was expected
  kFolderInUse = 70,   // a folder another run of the program holds
  kPathAccess = 75,
  kPathNotFound = 76,
  kUnknownProcess = 1000,  // process name in `fifo` is neither run kind
};

// An error's number against one of a layer's codes.
constexpr bool operator==(long number, ErrorCode code) { return number == static_cast<long>(code); }

class Error : public std::exception {
 public:
  // `code` is one of a layer's scoped enums of numbers.
  template <typename Code>
  requires std::is_enum_v<Code> Error(Code code, std::string description, std::string cause = {})
      : Error(static_cast<long>(code), std::move(description), std::move(cause)) {}
  // Another error's number, kept as it was.
  Error(long number, std::string description, std::string cause = {})
      : number_(number), description_(std::move(description)), cause_(std::move(cause)) {}

  long Number() const { return number_; }
  const std::string& Description() const { return description_; }
  // What the failure concerned: a path, the system's own message. May be empty.
  const std::string& Cause() const { return cause_; }

  // Returns a copy whose cause is `cause`, placed in front of any existing one.
  Error WithCause(const std::string& cause) const {
    return Error(number_, description_, cause_.empty() ? cause : cause + "\n" + cause_);
  }

  const char* what() const noexcept override { return description_.c_str(); }

 private:
  long number_;
  std::string description_;
  std::string cause_;
};

}  // namespace sa
