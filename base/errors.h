// The error classes of Velotrax. Each is raised where the fault is found and shown by the
// application's one guard; what() is the message the user sees.
#pragma once

#include <stdexcept>
#include <string>

namespace velotrax {

// Base of every error the program raises on purpose.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A text that is not an integer ("'%s' is not a valid integer value").
class EConvertError : public Exception {
  using Exception::Exception;
};

// A profile file that cannot be written ("Unable to write to %s").
class EIniFileException : public Exception {
  using Exception::Exception;
};

// A file that cannot be created or truncated ("Cannot create file \"%s\". %s").
class EFCreateError : public Exception {
  using Exception::Exception;
};

// A short write ("Stream write error").
class EWriteError : public Exception {
  using Exception::Exception;
};

// An operation refused in the object's present state (gauge ranges).
class EInvalidOperation : public Exception {
  using Exception::Exception;
};

// A failed call into the operating system; carries the system's error code.
class EOSError : public Exception {
 public:
  EOSError(const std::string& message, int error_code) : Exception(message), code_(error_code) {}
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

// The process runner refusing an operation while a child is watched.
class EJVCLException : public Exception {
  using Exception::Exception;
};

// A file name the file-name field cannot take ("Invalid file name - %s").
class EComboEditError : public Exception {
  using Exception::Exception;
};

// A malformed environment block for the runner.
class EJclError : public Exception {
  using Exception::Exception;
};

// An emulator pass that measured nothing, with the emulator's own reason.
class EEmulatorError : public Exception {
  using Exception::Exception;
};

}  // namespace velotrax
