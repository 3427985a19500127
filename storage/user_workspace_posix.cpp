// The POSIX back end of storage/user_workspace.h: the XDG data folder, as the desktop menu's own
// launcher takes it.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/errors.h"
#include "storage/files.h"
#include "storage/user_workspace.h"

namespace velotrax {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& dir, int error) {
  throw EOSError(
      "Cannot " + what + " the workspace folder \"" + dir + "\": " + SystemErrorText(error), error);
}

// mkdir -p: every missing folder of path, each with the permissions the umask leaves.
void MakeDirectories(const std::string& path) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    struct stat st;
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) Fail("create", part, errno);
    if (::stat(part.c_str(), &st) != 0) Fail("create", part, errno);
    if (!S_ISDIR(st.st_mode)) Fail("create", part, ENOTDIR);
    if (end == std::string::npos) return;
  }
}

}  // namespace

std::string UserWorkspaceDirectory() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  // A relative XDG_DATA_HOME is no real place to keep files: the desktop takes the default too.
  if (data_home != nullptr && data_home[0] == '/') return std::string(data_home) + "/velotrax";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    throw EOSError("The workspace folder is unknown: neither XDG_DATA_HOME nor HOME names a folder",
                   ENOENT);
  }
  return std::string(home) + "/.local/share/velotrax";
}

std::string EnterUserWorkspace() {
  const std::string dir = UserWorkspaceDirectory();
  MakeDirectories(dir + "/roms");
  if (::chdir(dir.c_str()) != 0) Fail("enter", dir, errno);
  return dir;
}

}  // namespace velotrax
