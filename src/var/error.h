// The program's one error type: a number and a description, as the database
// engine reports them, plus an optional cause (a path, a system message) that
// the message sink prints under the description. Thrown by every layer and
// caught where the program decides what a failure means (the archive run,
// start-up).
#pragma once

#include <exception>
#include <string>

namespace sa {

// Error numbers raised by the program itself. Engine errors use their own.
enum ErrorNumber : long {
  kErrUnknownProcess = 1000,  // process name in `fifo` is neither run kind
  kErrOverflow = 6,           // a number outside the target type's range
  kErrTypeMismatch = 13,      // a text that does not convert
  kErrInputPastEnd = 62,      // a text file ended where an item was expected
  kErrFileNotFound = 53,
  kErrPathNotFound = 76,
  kErrPathAccess = 75,
  kErrTooManyPairs = 9,  // settings file with more than 151 pairs
  kErrOutOfMemory = 7,
  kErrInternal = 51,     // an unexpected failure of any other kind
  kErrFolderInUse = 70,  // a folder another run of the program holds
};

class Error : public std::exception {
 public:
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
