#include "core/state.h"

#include <array>

#include "storage/file_names.h"
#include "storage/files.h"

namespace velotrax {

namespace {

struct CatalogueEntry {
  const char* rom;
  const char* driver;
};

constexpr std::array<CatalogueEntry, game_count - 1> kCatalogue = {{
    {"720", "atarisy2.c"},      {"asteroid", "asteroid.c"}, {"bbakraid", "toaplan2.c"},
    {"ddonpach", "cave.c"},     {"dkong", "dkong.c"},       {"frogger", "frogger.c"},
    {"cyvern", "suprnova.c"},   {"dondokod", "taito_f2.c"}, {"galaxian", "galaxian.c"},
    {"gauntleg", "vegas.c"},    {"gunbird2", "psikyosh.c"}, {"gunfight", "8080bw.c"},
    {"hotgmck", "psikyo4.c"},   {"invaders", "invaders.c"}, {"kinst2", "kinst.c"},
    {"kof2000", "neogeo.c"},    {"mace", "seattle.c"},      {"marble", "atarisy1.c"},
    {"mario", "mario.c"},       {"mpatrol", "mpatrol.c"},   {"orlegend", "pgm.c"},
    {"outrun", "segaorun.c"},   {"pacman", "pacman.c"},     {"pbobble4", "taito_f3.c"},
    {"pdrift", "segaybd.c"},    {"polepos", "polepos.c"},   {"popeye", "popeye.c"},
    {"hanagumi", "stv.c"},      {"mk2", "midtunit.c"},      {"primrage", "atarigt.c"},
    {"propcycl", "namcos22.c"}, {"rampage", "mcr3.c"},      {"rvschool", "zn.c"},
    {"sexyparo", "konamigx.c"}, {"sf2ce", "cps1.c"},        {"sfa3", "cps2.c"},
    {"sfex2p", "zn.c"},         {"shufshot", "itech32.c"},  {"souledga", "namcos11.c"},
    {"starwars", "starwars.c"}, {"stocker", "balsente.c"},  {"stunrun", "harddriv.c"},
    {"superbug", "firetrk.c"},  {"teamqb", "leland.c"},     {"tekken3", "namcos12.c"},
    {"tron", "mcr2.c"},         {"vasara", "ssv.c"},        {"wargods", "midvunit.c"},
    {"xexex", "xexex.c"},       {"area51", "cojag.c"},      {"blitz", "seattle.c"},
    {"bzone", "bzone.c"},       {"bmdct", "djmain.c"},      {"drivedge", "itech32.c"},
}};

}  // namespace

void InitProgramState(ProgramState& state) {
  // Files live in the directory the program was started in, found by plain concatenation.
  state.base_dir = DirectoryWithSeparator(QueryCurrentDirectory());
  state.mame_file = "mame.exe";
  state.score_lines.ClearLines();
}

void BuildCatalogue(CatalogueState& state) {
  state.games.assign(game_count, Tgameinfo{});
  state.games[0].cpu.clear();
  state.games[0].rom = "Select Rom";
  for (int i = 1; i < game_count; ++i) {
    state.games[i].rom = kCatalogue[i - 1].rom;
    state.games[i].driver = kCatalogue[i - 1].driver;
  }
}

std::string GameSelectorItem(int index) {
  if (index == 2) return "Asteroid";
  if (index == 0) return "Select Rom";
  if (index > 0 && index < game_count) return kCatalogue[index - 1].rom;
  return {};
}

}  // namespace velotrax
