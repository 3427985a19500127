// Errors that come from a failed system call carry its errno and its name beside their message,
// so that the message stays as the program words it and the cause is still at hand.
#pragma once

#include <string>
#include <utility>

namespace velotrax {

// The failed call's errno and name; found on an error with dynamic_cast.
class SystemCallError {
 public:
  SystemCallError(int error_number, std::string call)
      : error_number_(error_number), call_(std::move(call)) {}
  virtual ~SystemCallError() = default;
  // The errno the call left.
  int ErrorNumber() const noexcept { return error_number_; }
  // The call's name, for example "rename".
  const std::string& FailedCall() const noexcept { return call_; }

 private:
  int error_number_;
  std::string call_;
};

// An error of class Base with its own message that also carries the failed call.
template <typename Base>
class WithSystemCall : public Base, public SystemCallError {
 public:
  WithSystemCall(const std::string& message, int error_number, std::string call)
      : Base(message), SystemCallError(error_number, std::move(call)) {}
};

}  // namespace velotrax
