#include "storage/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace velotrax {

FileReplaceCalls file_replace_calls = {::write, ::rename};

bool FileIsPresent(const std::string& path) noexcept {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string AsciiLowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

std::string QueryCurrentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
    if (errno != ERANGE) break;
    buffer.resize(buffer.size() * 2);
  }
  // The working directory was removed or is out of reach: names relative to it still work.
  return ".";
}

std::string SystemErrorText(int error) {
  std::string text = std::strerror(error);
  while (!text.empty()) {
    const char last = text.back();
    if (last != ' ' && last != '\t' && last != '\r' && last != '\n' && last != '.') break;
    text.pop_back();
  }
  return text;
}

FileStamp StampOf(const struct ::stat& st) {
  FileStamp stamp;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.mtime_sec = st.st_mtim.tv_sec;
  stamp.mtime_nsec = st.st_mtim.tv_nsec;
  stamp.ctime_sec = st.st_ctim.tv_sec;
  stamp.ctime_nsec = st.st_ctim.tv_nsec;
  return stamp;
}

namespace {

ReplaceOutcome Failed(ReplaceOutcome::Failure failure, int error) {
  ReplaceOutcome outcome;
  outcome.failure = failure;
  outcome.error = error;
  return outcome;
}

// A symbolic link is kept: the file it points to is the one replaced.
std::string ResolveTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target = resolved;
  std::free(resolved);
  return target;
}

// Creates a new, empty temporary file beside target; the umask applies as for any new file.
int CreateTemporary(const std::string& target, std::string& temporary) {
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const unsigned long tag = (static_cast<unsigned long>(::getpid()) << 20) ^
                              static_cast<unsigned long>(now.tv_nsec) ^ (++counter * 7919ul);
    temporary = dir + "." + base + ".tmp" + std::to_string(tag % 1000000000ul);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = file_replace_calls.write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void SyncDirectoryOf(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: the rename itself already happened
  ::close(fd);
}

}  // namespace

ReplaceOutcome ReplaceFileContents(const std::string& path, std::string_view bytes) noexcept {
  using Failure = ReplaceOutcome::Failure;
  try {
    const std::string target = ResolveTarget(path);

    struct stat old;
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed) {
      if (S_ISDIR(old.st_mode)) return Failed(Failure::create, EISDIR);
      if (!S_ISREG(old.st_mode)) return Failed(Failure::create, EINVAL);
      // A file nobody may write stays as it is, even for a user (root) whom access() lets through.
      if ((old.st_mode & 0222) == 0) return Failed(Failure::create, EACCES);
      if (::access(target.c_str(), W_OK) != 0) return Failed(Failure::create, errno);
    } else if (errno != ENOENT) {
      return Failed(Failure::create, errno);
    }

    std::string temporary;
    const int fd = CreateTemporary(target, temporary);
    if (fd < 0) return Failed(Failure::create, errno);

    auto abandon = [&](Failure failure, int error) {
      ::close(fd);
      ::unlink(temporary.c_str());
      return Failed(failure, error);
    };

    if (existed) {
      if (::fchmod(fd, old.st_mode & 07777) != 0) return abandon(Failure::create, errno);
      if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        // Keep the owner when we may (we are root); otherwise the file becomes ours.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
          // Not allowed: the permission bits above still apply.
        }
      }
    }
    if (!WriteAll(fd, bytes)) return abandon(Failure::write, errno);
    if (::fsync(fd) != 0) return abandon(Failure::write, errno);
    if (file_replace_calls.rename(temporary.c_str(), target.c_str()) != 0) {
      return abandon(Failure::create, errno);
    }

    ReplaceOutcome outcome;
    struct stat written;
    if (::fstat(fd, &written) == 0) outcome.written = StampOf(written);
    ::close(fd);  // the data is on disk already; a late close error changes nothing
    SyncDirectoryOf(target);
    return outcome;
  } catch (...) {
    return Failed(Failure::create, ENOMEM);
  }
}

}  // namespace velotrax
