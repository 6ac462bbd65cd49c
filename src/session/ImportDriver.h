#pragma once
#include "session/State.h"

namespace kestrel {

// Imports every edited file found in the export tree of the archive opened last back into it.
void ImportAll(KestrelState& state);

} // namespace kestrel
