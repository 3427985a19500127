#include "emulator/emulator_contract.h"

namespace velotrax {

EmulatorInvocation ComposeInvocation(std::string_view base_dir, std::string_view mame_file,
                                     std::string_view rom, bool is_d3d) {
  return ComposeInvocationWith(base_dir, mame_file, rom,
                               is_d3d ? D3DOptionString : DDrawOptionString);
}

EmulatorInvocation ComposeInvocationWith(std::string_view base_dir, std::string_view mame_file,
                                         std::string_view rom, std::string_view options) {
  EmulatorInvocation invocation;
  invocation.CurrentDirectory = std::string(base_dir);
  invocation.ApplicationName = std::string(base_dir) + std::string(mame_file);
  invocation.CommandLine =
      std::string(mame_file) + " " + std::string(rom) + " " + std::string(options);
  return invocation;
}

}  // namespace velotrax
