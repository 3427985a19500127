// The part of storage/user_workspace.h that both systems share: the option that asks for it.
#include "storage/user_workspace.h"

namespace velotrax {

bool EnterUserWorkspaceIfAsked(std::vector<std::string>& args) {
  if (args.empty() || args.front() != kUserWorkspaceOption) return false;
  args.erase(args.begin());
  EnterUserWorkspace();
  return true;
}

}  // namespace velotrax
