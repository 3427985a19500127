// The score file "mark.dat" (this computer) and the reference file "reference.dat".
#pragma once

#include <functional>
#include <string>

#include "storage/stored_state.h"

namespace velotrax {

// Reads this computer's description and scores from base_dir + "mark.dat"; throws EConvertError.
void LoadScores(CatalogueState& state);
// Takes in what another program stored in mark.dat since this process last read or wrote it,
// keeping every value changed here; one stat when nothing changed. A file that does not read
// whole changes nothing. True when a value changed.
bool ReloadChangedScores(CatalogueState& state) noexcept;
// Reads the reference computers from base_dir + "reference.dat", naming each new row through the
// callback; throws EConvertError.
void LoadReferences(CatalogueState& state,
                    const std::function<void(const std::string& name)>& append_reference_item);
// Writes base_dir + "mark.dat" whole (110 lines), keeping what another program stored since it
// was read for every value not changed here, and the replaced file as mark.dat.bak; throws
// EFCreateError, EWriteError.
void SaveScores(CatalogueState& state);

}  // namespace velotrax
