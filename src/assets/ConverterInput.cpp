#include "assets/ConverterInput.h"

#include "io/SafePath.h"

namespace kestrel {

std::filesystem::path ConverterInput::OutputDir() const {
    auto dir = JoinInside(context.places.outputBaseDir, relativeDir);
    CreateDirectories(dir);
    return dir;
}

std::filesystem::path ConverterInput::OutputFile(const std::string& fileName) const {
    return JoinInside(OutputDir(), SafeRelativePath(fileName));
}

std::string StripExtension(const std::string& exportName) {
    const auto dot = exportName.rfind('.');
    return dot == std::string::npos ? exportName : exportName.substr(0, dot);
}

} // namespace kestrel
