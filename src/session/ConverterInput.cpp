#include "session/ConverterInput.h"

#include "io/SafePath.h"

namespace kestrel {

std::filesystem::path ConverterInput::OutputDir() const {
    auto dir = JoinInside(state.OutputBaseDir, relativeDir);
    CreateDirectories(dir);
    return dir;
}

std::filesystem::path ConverterInput::OutputFile(const std::string& fileName) const {
    return JoinInside(OutputDir(), SafeRelativePath(fileName));
}

ResourcePlaces ResourcePlacesOf(const KestrelState& state) {
    ResourcePlaces places{state.OutputBaseDir, state.ArchiveDir, state.ArchiveDirName, {}};
    if (state.isBundle) places.innerFileNames = state.innerFileNames;
    return places;
}

std::string StripExtension(const std::string& exportName) {
    const auto dot = exportName.rfind('.');
    return dot == std::string::npos ? exportName : exportName.substr(0, dot);
}

} // namespace kestrel
