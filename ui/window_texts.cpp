#include "ui/window_texts.h"

namespace velotrax::texts {

const std::vector<std::string>& InformationLines() {
  static const std::vector<std::string> lines = {
      "Velotrax does not reinvent the wheel but uses the method of its ",
      "originator, who gets all the credit for the best way to benchmark MAME ",
      "roms.",
      "",
      "",
      "Methodology:",
      "",
      "There are two possible benchmark passes - D3D and DirectDraw ",
      "rendering.",
      "Each benchmark runs 5000 frames with the following mame options:",
      "",
      "DirectDraw:",
      "-norc -ftr 5000 -noafs -r 1280x1024x32 -refresh 60 -skip_disclaimer -",
      "skip_gameinfo -screen_aspect 5:4 -nothrottle -rdtsc -high_priority -noart -",
      "nomouse -nojoy -nogun -nosleep -rompath roms -nod3d",
      "",
      "D3D:",
      "-norc -ftr 5000 -noafs -r 1280x1024x32 -refresh 60 -skip_disclaimer -",
      "skip_gameinfo -screen_aspect 5:4 -nothrottle -rdtsc -high_priority -noart -",
      "nomouse -nojoy -nogun -nosleep -rompath roms -d3d -d3dfilter 0 -d3",
      "dtexmanage -d3dprescale none",
      "",
      "Because the originator's method is used as it stands, Velotrax ",
      "runs all games in 1280x1024x32bppx60Hz and 5:4 aspect ratio.",
      "Most LCD and CRT's should have no problem when running at this ",
      "resolution and frequency.",
      "",
      "Although these benchmarks are not indicative of in-game performance that ",
      "may be achieved when actually playing the game, it should give a good ",
      "indication for benchmarking.",
      "",
      "Chosen Games:",
      "",
      "The games chosen make use of the major drivers and presumably get ",
      "identical frames each and every time they run. (no random demo etc...)",
      "",
      "",
      "Disclaimer:",
      "",
      "Be aware that benchmarking puts a lot of strain on the CPU which can ",
      "overheat. Make sure proper cooling is applied.",
      "The used resolution and frequency can also damage monitors which do not ",
      "support this settings.",
      "The author of Velotrax cannot be held responsible for any damage ",
      "occured by using Velotrax. ",
      "",
  };
  return lines;
}

const std::vector<std::string>& DisclaimerLines() {
  static const std::vector<std::string> lines = {
      "",
      "Be aware that benchmarking puts a lot of strain on the CPU which can ",
      "overheat. Make sure proper cooling is applied.",
      "The used resolution and frequency (1280x1024x32 @60Hz) can also ",
      "damage monitors which do not support this settings.",
      "",
      "The author of Velotrax cannot be held responsible for any damage ",
      "occured by using Velotrax. ",
      "",
      "",
  };
  return lines;
}

const std::vector<std::string>& AboutLines() {
  static const std::vector<std::string> lines = {
      " ",
      "                                      Velotrax 1.0",
      "",
      "",
      "",
      "Be aware that benchmarking puts a lot of strain on the CPU which ",
      "can overheat. Make sure proper cooling is applied.",
      "The used resolution and frequency (1280x1024x32 @60Hz) can ",
      "also damage monitors which do not support this settings.",
      "",
      "The author of Velotrax cannot be held responsible for any ",
      "damage occured by using Velotrax. ",
      "",
      "",
  };
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) joined += separator;
    joined += lines[i];
  }
  return joined;
}

}  // namespace velotrax::texts

namespace velotrax {

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

std::string EscapedErrorMessage(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "An unexpected error occurred";
  }
}

void ReportEscapedError(std::exception_ptr error,
                        void (*show_error_box)(const std::string& message)) noexcept {
  try {
    show_error_box(EscapedErrorMessage(error));
  } catch (...) {
    // The box itself failed (out of memory, most likely): there is no one left to tell.
  }
}

void RunGuardedWith(const std::function<void()>& handler,
                    void (*show_error_box)(const std::string& message)) {
  try {
    handler();
  } catch (...) {
    ReportEscapedError(std::current_exception(), show_error_box);
  }
}

}  // namespace velotrax
