#pragma once
#include "assets/ConverterInput.h"
#include "session/State.h"

namespace kestrel {

// Where resource files named by the objects of the open archive are looked up.
ResourcePlaces ResourcePlacesOf(const KestrelState& state);

// The converters' view of the program state: the open file, places, switches, language and
// reporter. It refers to state.assets and the reporter, so it lives no longer than the state.
ConverterContext ContextOf(KestrelState& state);

} // namespace kestrel
