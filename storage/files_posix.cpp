// The POSIX back end of storage/files.h.
#include "storage/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>
#include <vector>

#include "storage/file_names.h"
#include "storage/files_native.h"

namespace velotrax {

FileReplaceCalls file_replace_calls = {::write, ::rename};

const char* ReadRegularFile(const std::string& path, std::size_t max_bytes, std::string& bytes,
                            FileStamp& stamp) {
  // O_NONBLOCK: a pipe placed where the file should be must not stop the program.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "open";
  const char* failed = nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    failed = "fstat";
  } else if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    failed = "fstat";
  } else {
    stamp = StampOf(st);
    // One byte more than the size, so that a file that grew since fstat is seen to have grown.
    bytes.resize(std::min(static_cast<std::size_t>(st.st_size), max_bytes) + 1);
    std::size_t filled = 0;
    while (failed == nullptr) {
      if (filled == bytes.size()) {
        if (bytes.size() > max_bytes) {
          errno = EFBIG;
          failed = "read";
          break;
        }
        bytes.resize(std::min(bytes.size() * 2, max_bytes + 1));
      }
      const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failed = "read";
      if (n <= 0) break;
      filled += static_cast<std::size_t>(n);
    }
    bytes.resize(failed == nullptr ? filled : 0);
  }
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return failed;
}

bool FileIsPresent(const std::string& path) noexcept {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
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

bool StampOfRegularFile(const std::string& path, FileStamp& stamp) noexcept {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  stamp = StampOf(st);
  return true;
}

namespace {

ReplaceOutcome Failed(ReplaceOutcome::Failure failure, int error, const char* call) {
  ReplaceOutcome outcome;
  outcome.failure = failure;
  outcome.error = error;
  outcome.call = call;
  return outcome;
}

// A symbolic link is kept: the file it leads to is the one replaced, also a file that does not
// exist yet. False (errno set) for a loop of links or a link that cannot be read.
bool ResolveTarget(const std::string& path, std::string& target) {
  target = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    if (hops == 40) {
      errno = ELOOP;
      return false;
    }
    std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
    const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n < 0) return false;
    link.resize(static_cast<std::size_t>(n));
    if (link.empty() || link.front() != '/') link = DirectoryPart(target) + link;
    target = link;
  }
}

// Creates a new, empty temporary file beside target; the umask applies as for any new file.
int CreateTemporary(const std::string& target, std::string& temporary) {
  const std::string dir = DirectoryPart(target);
  const std::string base = NamePart(target);
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
  std::string dir = DirectoryPart(target);
  if (dir.empty()) dir = ".";
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: the rename itself already happened
  ::close(fd);
}

FileStamp DirectoryStamp(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? StampOf(st) : FileStamp{};
}

}  // namespace

// The lock is flock() on the directory rather than on the file, which every writer replaces by
// renaming (a lock on the old file does not hold back a writer that opens the new one), and
// rather than on a lock file, which would be left in the user's folder and could not be made
// in a folder this user may only read. The kernel drops it when its holder
// ends, however it ends. A holder keeps it for one read and one replacement, milliseconds; one
// that holds it long without changing anything is stopped or stuck, and after the wait the save
// goes on unlocked, as it did before there was a lock: a lost race is less harm than a save that
// cannot be made. A holder that keeps writing (another program saving key after key) is waited
// for, up to four times as long.
DirectoryWriteLock::DirectoryWriteLock(const std::string& path) noexcept {
  using Clock = std::chrono::steady_clock;
  try {
    std::string target;
    if (!ResolveTarget(path, target)) target = path;
    std::string dir = DirectoryPart(target);
    if (dir.empty()) dir = ".";
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    const std::chrono::milliseconds wait(directory_lock_wait_ms);
    const Clock::time_point start = Clock::now();
    Clock::time_point deadline = start + wait;
    FileStamp seen = DirectoryStamp(fd);
    for (;;) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        fd_ = fd;
        return;
      }
      if (errno == EINTR) continue;
      // Refused outright (a file system without locks): go on without.
      if (errno != EWOULDBLOCK || Clock::now() >= deadline) break;
      const struct timespec pause = {0, 1000000};
      ::nanosleep(&pause, nullptr);
      const FileStamp now = DirectoryStamp(fd);
      if (!(now == seen)) {
        seen = now;
        deadline = std::min(Clock::now() + wait, start + 4 * wait);
      }
    }
    ::close(fd);
  } catch (...) {
    // No lock, as where the system offers none.
  }
}

bool DirectoryWriteLock::Held() const {
  return fd_ >= 0;
}

DirectoryWriteLock::~DirectoryWriteLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

ReplaceOutcome ReplaceWithSystemCalls(const std::string& path, std::string_view bytes) {
  using Failure = ReplaceOutcome::Failure;
  std::string target;
  if (!ResolveTarget(path, target)) return Failed(Failure::create, errno, "readlink");

  struct stat old;
  const bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed) {
    if (S_ISDIR(old.st_mode)) return Failed(Failure::create, EISDIR, "stat");
    if (!S_ISREG(old.st_mode)) return Failed(Failure::create, EINVAL, "stat");
    // A file nobody may write stays as it is, even for a user (root) whom access() lets through.
    if ((old.st_mode & 0222) == 0) return Failed(Failure::create, EACCES, "access");
    if (::access(target.c_str(), W_OK) != 0) return Failed(Failure::create, errno, "access");
  } else if (errno != ENOENT) {
    return Failed(Failure::create, errno, "stat");
  }

  std::string temporary;
  const int fd = CreateTemporary(target, temporary);
  if (fd < 0) return Failed(Failure::create, errno, "open");

  auto abandon = [&](Failure failure, int error, const char* call) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return Failed(failure, error, call);
  };

  if (existed) {
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
      // Keep owner and group when we may (as root). Another user who may write the file keeps
      // at least its group, so that a file shared by a group stays writable for the group;
      // where even that is refused, the permission bits below still apply.
      if (::fchown(fd, old.st_uid, old.st_gid) != 0 && old.st_gid != ::getegid() &&
          ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // Refused: the new file is this user's, with the permission bits below.
      }
    }
    // After fchown, which may clear the set-user and set-group bits.
    if (::fchmod(fd, old.st_mode & 07777) != 0) return abandon(Failure::create, errno, "fchmod");
  }
  if (!WriteAll(fd, bytes)) return abandon(Failure::write, errno, "write");
  if (::fsync(fd) != 0) return abandon(Failure::write, errno, "fsync");
  if (file_replace_calls.rename(temporary.c_str(), target.c_str()) != 0) {
    return abandon(Failure::create, errno, "rename");
  }

  ReplaceOutcome outcome;
  struct stat written;
  if (::fstat(fd, &written) == 0) outcome.written = StampOf(written);
  ::close(fd);  // the data is on disk already; a late close error changes nothing
  SyncDirectoryOf(target);
  return outcome;
}

}  // namespace velotrax
