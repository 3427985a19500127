// The emulator contract lives in the emulator layer; this path is kept for the programs outside
// Velotrax that include it by its former name. Nothing in Velotrax includes it.
#pragma once

#include "emulator/emulator_contract.h"  // IWYU pragma: export
