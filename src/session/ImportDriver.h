#pragma once
#include "session/State.h"

namespace kestrel {

// Imports every edited file found in the export tree of the inner file opened last back into it,
// and for a bundle then the resource entries whose data that inner file streams (sound imports
// write into their exported copies); the archive is written once, and only when a byte of an
// object changes. Afterwards the state describes the new archive, the same inner file open.
void ImportAll(KestrelState& state);

// A bundle as one unit: every inner file whose export tree exists, the resource entries last,
// written once. For a file that is no bundle, ImportAll.
void ImportBundle(KestrelState& state);

} // namespace kestrel
