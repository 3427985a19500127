// The Win32 back end of storage/files.h. Names are UTF-8 inside the program and UTF-16 for the
// system: they are converted here (and in file_names.cpp), at the calls, nowhere else. UTF-8
// rather than the ANSI code page, so that every name the system can hold can be named, also one
// with characters outside the user's code page. Contents are bytes, never text mode: a file reads
// and writes byte for byte as on Linux. Errors are told as errno values, as on Linux, so that
// callers and their messages stay the same on both systems.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "base/win32_text.h"
#include "storage/file_names.h"
#include "storage/files.h"
#include "storage/files_native.h"

namespace velotrax {

bool WideName(const std::string& path, std::wstring& wide) {
  // Bytes that are not UTF-8, or a NUL that would cut the name the system sees, name no file.
  if (win32::Wide(path, wide)) return true;
  errno = EILSEQ;
  return false;
}

std::string Utf8Name(const std::wstring& wide) {
  return win32::Utf8(wide);
}

int ErrnoOfSystemError(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NO_UNICODE_TRANSLATION:
      return EILSEQ;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    default:
      return EIO;
  }
}

namespace {

// Sets errno from the calling thread's last Win32 error.
void KeepSystemError() {
  errno = ErrnoOfSystemError(::GetLastError());
}

// Times of the system (100 ns since 1601) as seconds and nanoseconds since 1970.
void SplitTime(const FILETIME& time, int64_t& sec, int64_t& nsec) {
  const int64_t ticks =
      static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime) -
      116444736000000000;
  sec = ticks / 10000000;
  nsec = (ticks % 10000000) * 100;
}

// The volume and file index say which file it is; size, last write and change time, which
// version: a rewrite in place that puts the last-write time back still moves the change time.
FileStamp StampOfHandle(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info) {
  FileStamp stamp;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  stamp.size = static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  SplitTime(info.ftLastWriteTime, stamp.mtime_sec, stamp.mtime_nsec);
  FILE_BASIC_INFO basic;
  if (::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    FILETIME change;
    change.dwLowDateTime = static_cast<DWORD>(basic.ChangeTime.QuadPart);
    change.dwHighDateTime = static_cast<DWORD>(basic.ChangeTime.QuadPart >> 32);
    SplitTime(change, stamp.ctime_sec, stamp.ctime_nsec);
  }
  return stamp;
}

// Opens an existing file or directory, following links, as every other program may go on using
// it; INVALID_HANDLE_VALUE with errno set when it cannot.
HANDLE OpenExisting(const std::string& path, DWORD access) {
  std::wstring wide;
  if (!WideName(path, wide)) return INVALID_HANDLE_VALUE;
  const HANDLE handle =
      ::CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) KeepSystemError();
  return handle;
}

// What an open handle is: 0 for a regular file (info filled), else the errno value that says why
// it is none (a directory, a device or pipe, or the failure to ask).
int RegularFileInfo(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  if (::GetFileType(handle) != FILE_TYPE_DISK) return EINVAL;
  if (!::GetFileInformationByHandle(handle, &info)) return ErrnoOfSystemError(::GetLastError());
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : 0;
}

ssize_t WriteToHandle(int fd, const void* data, std::size_t size) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  DWORD written = 0;
  const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!::WriteFile(handle, data, piece, &written, nullptr)) {
    KeepSystemError();
    return -1;
  }
  return static_cast<ssize_t>(written);
}

// Renames with POSIX semantics where the system offers them (Windows 10 on NTFS): the old file
// is replaced also while another program that let it be deleted still has it open, and that
// program goes on reading the old contents. False with the last error set where it cannot.
// Windows 10's declarations, which MinGW's headers keep from a program built for older systems:
// those refuse the call at run time and get the classic rename.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
struct RenameInfoEx {
  DWORD flags;  // FILE_RENAME_FLAG_*
  HANDLE root_directory;
  DWORD name_bytes;
  wchar_t name[1];
};

bool RenameLikePosix(const std::wstring& from, const std::wstring& to) {
  const HANDLE handle =
      ::CreateFileW(from.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::vector<char> buffer(sizeof(RenameInfoEx) + to.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<RenameInfoEx*>(buffer.data());
  rename->flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  rename->name_bytes = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::copy(to.begin(), to.end(), rename->name);
  const bool renamed = ::SetFileInformationByHandle(handle, kFileRenameInfoEx, rename,
                                                    static_cast<DWORD>(buffer.size()));
  const DWORD error = ::GetLastError();
  ::CloseHandle(handle);
  ::SetLastError(error);
  return renamed;
}

int MoveReplacing(const char* from, const char* to) {
  std::wstring wide_from, wide_to;
  if (!WideName(from, wide_from) || !WideName(to, wide_to)) return -1;
  if (RenameLikePosix(wide_from, wide_to)) return 0;
  // The classic rename: the same, except that it is refused while the old file is open.
  if (::MoveFileExW(wide_from.c_str(), wide_to.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  KeepSystemError();
  return -1;
}

ReplaceOutcome Failed(ReplaceOutcome::Failure failure, int error, const char* call) {
  ReplaceOutcome outcome;
  outcome.failure = failure;
  outcome.error = error;
  outcome.call = call;
  return outcome;
}

// A symbolic link or junction is kept: the file it leads to is the one replaced.
std::string FinalTarget(const std::string& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return path;
  const HANDLE handle = OpenExisting(path, FILE_READ_ATTRIBUTES);
  if (handle == INVALID_HANDLE_VALUE) return path;
  std::wstring final_name(MAX_PATH, L'\0');
  DWORD length = ::GetFinalPathNameByHandleW(handle, final_name.data(),
                                             static_cast<DWORD>(final_name.size()), 0);
  if (length >= final_name.size()) {
    final_name.resize(length);
    length = ::GetFinalPathNameByHandleW(handle, final_name.data(), length, 0);
  }
  ::CloseHandle(handle);
  if (length == 0 || length >= final_name.size()) return path;
  final_name.resize(length);
  return Utf8Name(final_name);
}

// Creates a new, empty temporary file beside target, with the attributes the replaced file had
// (hidden, system, ...), as a C runtime descriptor in binary mode; -1 with errno set on failure.
int CreateTemporary(const std::string& target, DWORD attributes, std::string& temporary) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const uint64_t tag = (uint64_t{::GetCurrentProcessId()} << 20) ^ ::GetTickCount64() * 7919u ^
                         (++counter * 104729u);
    temporary =
        DirectoryPart(target) + "." + NamePart(target) + ".tmp" + std::to_string(tag % 1000000000u);
    std::wstring wide;
    if (!WideName(temporary, wide)) return -1;
    const HANDLE handle =
        ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      KeepSystemError();
      return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    if (fd < 0) {
      ::CloseHandle(handle);
      ::DeleteFileW(wide.c_str());
      errno = EMFILE;
    }
    return fd;
  }
  errno = EEXIST;
  return -1;
}

// Another program may have the old file open for a moment (a virus scanner, an indexer, an
// editor reading it): the rename is tried again for up to half a second before it counts as
// refused.
int RenameOverOldFile(const std::string& temporary, const std::string& target) {
  for (int attempt = 0;; ++attempt) {
    if (file_replace_calls.rename(temporary.c_str(), target.c_str()) == 0) return 0;
    if (errno != EACCES || attempt == 20) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = file_replace_calls.write(fd, bytes.data(), bytes.size());
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

FileReplaceCalls file_replace_calls = {WriteToHandle, MoveReplacing};

bool FileIsPresent(const std::string& path) noexcept {
  FileStamp ignored;
  return StampOfRegularFile(path, ignored);
}

bool StampOfRegularFile(const std::string& path, FileStamp& stamp) noexcept {
  try {
    const HANDLE handle = OpenExisting(path, FILE_READ_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool regular = RegularFileInfo(handle, info) == 0;
    if (regular) stamp = StampOfHandle(handle, info);
    ::CloseHandle(handle);
    return regular;
  } catch (...) {
    return false;
  }
}

std::string QueryCurrentDirectory() {
  const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring wide(size, L'\0');
  const DWORD length = size == 0 ? 0 : ::GetCurrentDirectoryW(size, wide.data());
  // The working directory is out of reach: names relative to it still work.
  if (length == 0 || length >= size) return ".";
  wide.resize(length);
  return Utf8Name(wide);
}

const char* ReadRegularFile(const std::string& path, std::size_t max_bytes, std::string& bytes,
                            FileStamp& stamp) {
  const HANDLE handle = OpenExisting(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) return "CreateFileW";
  const char* failed = nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  // A pipe or device is refused before it is read, so that it cannot stop the program.
  if (const int error = RegularFileInfo(handle, info); error != 0) {
    errno = error;
    failed = "GetFileInformationByHandle";
  } else {
    stamp = StampOfHandle(handle, info);
    // One byte more than the size, so that a file that grew since is seen to have grown.
    bytes.resize(std::min(static_cast<std::size_t>(stamp.size), max_bytes) + 1);
    std::size_t filled = 0;
    while (failed == nullptr) {
      if (filled == bytes.size()) {
        if (bytes.size() > max_bytes) {
          errno = EFBIG;
          failed = "ReadFile";
          break;
        }
        bytes.resize(std::min(bytes.size() * 2, max_bytes + 1));
      }
      DWORD n = 0;
      const DWORD piece =
          static_cast<DWORD>(std::min<std::size_t>(bytes.size() - filled, 1u << 30));
      if (!::ReadFile(handle, bytes.data() + filled, piece, &n, nullptr)) {
        KeepSystemError();
        failed = "ReadFile";
      }
      if (n == 0) break;
      filled += n;
    }
    bytes.resize(failed == nullptr ? filled : 0);
  }
  const int saved = errno;
  ::CloseHandle(handle);
  errno = saved;
  return failed;
}

ReplaceOutcome ReplaceWithSystemCalls(const std::string& path, std::string_view bytes) {
  using Failure = ReplaceOutcome::Failure;
  std::wstring wide;
  if (!WideName(path, wide)) return Failed(Failure::create, errno, "MultiByteToWideChar");
  const DWORD old_attributes = ::GetFileAttributesW(wide.c_str());
  const bool existed = old_attributes != INVALID_FILE_ATTRIBUTES;
  if (!existed) {
    const DWORD error = ::GetLastError();
    // A missing folder is told by the creation of the temporary file below, as on Linux.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      return Failed(Failure::create, ErrnoOfSystemError(error), "GetFileAttributesW");
    }
  }
  std::string target = path;
  DWORD new_attributes = FILE_ATTRIBUTE_NORMAL;
  if (existed) {
    target = FinalTarget(path, old_attributes);
    const HANDLE old = OpenExisting(target, FILE_READ_ATTRIBUTES);
    if (old == INVALID_HANDLE_VALUE) return Failed(Failure::create, errno, "CreateFileW");
    BY_HANDLE_FILE_INFORMATION info;
    const int error = RegularFileInfo(old, info);
    ::CloseHandle(old);
    if (error != 0) return Failed(Failure::create, error, "GetFileInformationByHandle");
    // A read-only file stays as it is, as one without write permission on Linux.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return Failed(Failure::create, EACCES, "GetFileInformationByHandle");
    }
    const DWORD kept =
        info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                 FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept != 0) new_attributes = kept;
  }

  std::string temporary;
  const int fd = CreateTemporary(target, new_attributes, temporary);
  if (fd < 0) return Failed(Failure::create, errno, "CreateFileW");
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  auto abandon = [&](Failure failure, int error, const char* call) {
    ::_close(fd);
    std::wstring wide_temporary;
    if (WideName(temporary, wide_temporary)) ::DeleteFileW(wide_temporary.c_str());
    return Failed(failure, error, call);
  };
  if (!WriteAll(fd, bytes)) return abandon(Failure::write, errno, "write");
  if (!::FlushFileBuffers(handle)) {
    return abandon(Failure::write, ErrnoOfSystemError(::GetLastError()), "FlushFileBuffers");
  }
  BY_HANDLE_FILE_INFORMATION written;
  const bool known = ::GetFileInformationByHandle(handle, &written);
  ::_close(fd);  // the data is on disk already; the rename needs the file closed
  if (RenameOverOldFile(temporary, target) != 0) {
    const int error = errno;
    std::wstring wide_temporary;
    if (WideName(temporary, wide_temporary)) ::DeleteFileW(wide_temporary.c_str());
    return Failed(Failure::create, error, "rename");
  }
  // The rename moved the change time: the stamp is taken in place, of this file (its index)
  // and not of one another program may have put there since.
  ReplaceOutcome outcome;
  const HANDLE in_place = OpenExisting(target, FILE_READ_ATTRIBUTES);
  if (in_place != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION now;
    if (known && ::GetFileInformationByHandle(in_place, &now) &&
        now.dwVolumeSerialNumber == written.dwVolumeSerialNumber &&
        now.nFileIndexHigh == written.nFileIndexHigh &&
        now.nFileIndexLow == written.nFileIndexLow) {
      outcome.written = StampOfHandle(in_place, now);
    }
    ::CloseHandle(in_place);
  }
  return outcome;
}

// Windows has no lock on a directory that its holder's end releases for certain (LockFileEx
// locks byte ranges of files, and a directory has none); a named mutex does: the system releases
// it, as abandoned, when its holding thread or process ends, however it ends. It is named after
// the directory's volume and file index, so that every name of one directory (letters' case,
// short names, links) takes the same lock. The wait is the same as on Linux.
DirectoryWriteLock::DirectoryWriteLock(const std::string& path) noexcept {
  using Clock = std::chrono::steady_clock;
  try {
    std::string target = path;
    std::wstring wide;
    if (WideName(path, wide)) {
      const DWORD attributes = ::GetFileAttributesW(wide.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES) target = FinalTarget(path, attributes);
    }
    std::string dir = DirectoryPart(target);
    if (dir.empty()) dir = ".";
    const HANDLE directory = OpenExisting(dir, FILE_READ_ATTRIBUTES);
    if (directory == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info;
    auto stamp_now = [&] {
      return ::GetFileInformationByHandle(directory, &info) ? StampOfHandle(directory, info)
                                                            : FileStamp{};
    };
    FileStamp seen = stamp_now();
    const std::wstring name = L"Local\\velotrax-directory-" + std::to_wstring(seen.device) + L"-" +
                              std::to_wstring(seen.inode);
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) {
      ::CloseHandle(directory);
      return;
    }
    const std::chrono::milliseconds wait(directory_lock_wait_ms);
    const Clock::time_point start = Clock::now();
    Clock::time_point deadline = start + wait;
    for (;;) {
      const DWORD result = ::WaitForSingleObject(mutex, 1);
      // Abandoned: its holder ended while holding it; the lock is ours now.
      if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        mutex_ = mutex;
        break;
      }
      if (result != WAIT_TIMEOUT || Clock::now() >= deadline) break;
      const FileStamp now = stamp_now();
      if (!(now == seen)) {
        seen = now;
        deadline = std::min(Clock::now() + wait, start + 4 * wait);
      }
    }
    if (mutex_ == nullptr) ::CloseHandle(mutex);
    ::CloseHandle(directory);
  } catch (...) {
    // No lock, as where the system offers none.
  }
}

bool DirectoryWriteLock::Held() const {
  return mutex_ != nullptr;
}

DirectoryWriteLock::~DirectoryWriteLock() {
  if (mutex_ == nullptr) return;
  ::ReleaseMutex(mutex_);
  ::CloseHandle(mutex_);
}

}  // namespace velotrax
