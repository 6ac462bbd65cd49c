// Stands in for the import driver until it is part of this build.
#include "common/Error.h"
#include "session/ImportDriver.h"

namespace kestrel {

void ImportAll(KestrelState&) {
    throw KestrelError("Import is not in this build yet");
}

} // namespace kestrel
