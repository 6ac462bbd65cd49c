#include "session/ConverterInput.h"

namespace kestrel {

ResourcePlaces ResourcePlacesOf(const KestrelState& state) {
    ResourcePlaces places{state.OutputBaseDir, state.ArchiveDir, state.ArchiveDirName, {}};
    if (state.isBundle) places.innerFileNames = state.innerFileNames;
    return places;
}

ConverterContext ContextOf(KestrelState& state) {
    return ConverterContext{state.assets,       ResourcePlacesOf(state), state.Report(),
                            state.Localization, state.NoFlipTexture,     state.ExportDDS,
                            state.ExecutableDir};
}

} // namespace kestrel
