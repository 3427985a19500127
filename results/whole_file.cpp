#include "results/whole_file.h"

#include <cerrno>

#include "results/errors.h"
#include "storage/files.h"

namespace velotrax::results {

std::string ReadWholeFile(const std::string& path, std::size_t max_bytes) {
  std::string bytes;
  FileStamp stamp;
  if (ReadRegularFile(path, max_bytes, bytes, stamp) == nullptr) return bytes;
  const int error = errno;
  if (error == EISDIR) throw EResultsError("cannot read \"" + path + "\": it is a directory");
  if (error == EINVAL) {
    throw EResultsError("cannot read \"" + path +
                        "\": it is not a regular file (a pipe or a device)");
  }
  if (error == EFBIG) {
    constexpr std::size_t kMiB = 1024 * 1024;
    const std::string most = max_bytes % kMiB == 0 ? std::to_string(max_bytes / kMiB) + " MiB"
                                                   : std::to_string(max_bytes) + " bytes";
    throw EResultsError("cannot read \"" + path + "\": it is larger than " + most);
  }
  throw EResultsError("cannot read \"" + path + "\": " + SystemErrorText(error));
}

}  // namespace velotrax::results
