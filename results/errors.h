// The error of the results layer: a run export or another file it reads that cannot be used.
// what() is the message the user sees; the front ends show it as they show the program's errors.
#pragma once

#include "base/errors.h"

namespace velotrax::results {

// A file that cannot be read, or an export that is no run or cannot be used whole.
class EResultsError : public Exception {
  using Exception::Exception;
};

}  // namespace velotrax::results
