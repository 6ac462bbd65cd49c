#include "support/ObjFiles.h"

#include "support/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/wait.h>

namespace kestrel::test {

std::vector<std::string> ObjLines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFileText(file));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool ObjHasCrLfLines(const std::filesystem::path& file) {
    const std::string text = ReadFileText(file);
    if (text.empty() || text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    }
    return true;
}

namespace {

// The number after "<label>:" on a line that starts with the label, or -1.
long CountAfter(const std::string& line, const std::string& label) {
    if (line.compare(0, label.size() + 1, label + ":") != 0) return -1;
    return std::strtol(line.c_str() + label.size() + 1, nullptr, 10);
}

} // namespace

AssimpCounts ReadWithAssimp(const std::filesystem::path& file) {
    AssimpCounts counts;
    if (std::system("command -v assimp >/dev/null 2>&1") != 0) return counts;
    counts.available = true;
    // The path comes from a test's temporary directory; quote it for the shell all the same.
    std::string quoted = "'";
    for (char c : file.string())
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    FILE* pipe = ::popen(("assimp info " + quoted + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return counts;
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        out.append(buf, n);
    const int status = ::pclose(pipe);
    counts.imported = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (long n = CountAfter(line, "Meshes"); n >= 0 && counts.meshes == 0) counts.meshes = n;
        if (long n = CountAfter(line, "Vertices"); n >= 0) counts.vertices = n;
        if (long n = CountAfter(line, "Faces"); n >= 0) counts.faces = n;
    }
    return counts;
}

} // namespace kestrel::test
