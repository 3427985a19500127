// Small file-system helpers used for the program's paths, and the safe whole-file replacement
// that every file the program rewrites goes through.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#ifndef _WIN32
struct stat;
#endif

namespace velotrax {

// True when path names an existing regular file; never throws.
bool FileIsPresent(const std::string& path) noexcept;

// The text with "A" to "Z" lower-cased and every other byte unchanged.
std::string AsciiLowerCase(std::string_view text);

// The process's working directory, absolute, without a trailing "/" except at the root.
std::string QueryCurrentDirectory();

// What identifies one version of a file: any write or replacement changes at least one field.
struct FileStamp {
  uint64_t device = 0, inode = 0;
  int64_t size = 0;
  int64_t mtime_sec = 0, mtime_nsec = 0, ctime_sec = 0, ctime_nsec = 0;
  bool operator==(const FileStamp&) const = default;
};

#ifndef _WIN32
// The stamp of a file examined with stat or fstat.
FileStamp StampOf(const struct ::stat& st);
#endif

// Whether path names a regular file (the end of its links), and then its stamp; never throws.
bool StampOfRegularFile(const std::string& path, FileStamp& stamp) noexcept;

// Which step of ReplaceFileContents failed; error is the errno of the failing call.
struct ReplaceOutcome {
  enum class Failure { none, create, write } failure = Failure::none;
  int error = 0;
  const char* call = "";  // the failing system call's name
  FileStamp written;      // the new file, when failure is none
};

// Writes bytes to a temporary file beside path and renames it over path, keeping the replaced
// file's permission bits, and its owner and group as far as the system lets this user. A
// symbolic link stays: the file it leads to is written, also when that file does not exist yet.
// A file without any write permission bit is refused like a read-only file. On failure the old
// file is intact and no temporary file is left.
ReplaceOutcome ReplaceFileContents(const std::string& path, std::string_view bytes) noexcept;

// How many times ReplaceFileContents has been called in this process; kept copies of files
// look at their files again when it changes.
uint64_t FileReplaceCount() noexcept;

// Reads a whole regular file, never waiting on a pipe put in its place: nullptr, or (errno set)
// the name of the call that found it missing, not a regular file, unreadable or too large.
const char* ReadRegularFile(const std::string& path, std::size_t max_bytes, std::string& bytes,
                            FileStamp& stamp);

// While it lives, holds the lock that this program's writers of the files of one directory take
// in turn, across processes, around reading a file and replacing it. Where no lock can be had,
// or another holder keeps it past the wait without changing anything, it goes on without one.
class DirectoryWriteLock {
 public:
  // Locks the directory of the file that path names (the end of its symbolic links).
  explicit DirectoryWriteLock(const std::string& path) noexcept;
  ~DirectoryWriteLock();
  DirectoryWriteLock(const DirectoryWriteLock&) = delete;
  DirectoryWriteLock& operator=(const DirectoryWriteLock&) = delete;
  // True when the lock was taken.
  bool Held() const;

 private:
#ifdef _WIN32
  void* mutex_ = nullptr;  // a named mutex of the directory, owned by this thread
#else
  int fd_ = -1;
#endif
};

// How long a writer waits for a holder of the directory's lock that changes nothing in it.
extern int directory_lock_wait_ms;

// The system calls that write and rename the new file, replaceable so that tests can make them
// fail. Only the UI thread writes files, so tests may swap them freely. On Windows too they take
// a C runtime descriptor (binary mode) and UTF-8 names and set errno: there they stand for
// WriteFile and MoveFileExW.
struct FileReplaceCalls {
  ssize_t (*write)(int fd, const void* data, std::size_t size);
  int (*rename)(const char* from, const char* to);
};
extern FileReplaceCalls file_replace_calls;

// The system's description of an errno value, without trailing blanks, line breaks and dots.
std::string SystemErrorText(int error);

}  // namespace velotrax
