#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::test {

// The lines of a text file, without their CR LF or LF endings.
std::vector<std::string> ObjLines(const std::filesystem::path& file);

// True when the file is non-empty and every line of it ends with CR LF.
bool ObjHasCrLfLines(const std::filesystem::path& file);

// What the Open Asset Import Library's command-line tool reads from a model file.
struct AssimpCounts {
    bool available = false; // false: assimp is not installed (the counts are then 0)
    bool imported = false;  // the tool read the file without an error
    unsigned meshes = 0;
    unsigned vertices = 0;
    unsigned faces = 0;
};

// Runs `assimp info <file>` and reads its Meshes, Vertices and Faces lines.
AssimpCounts ReadWithAssimp(const std::filesystem::path& file);

} // namespace kestrel::test
