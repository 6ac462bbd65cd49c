#pragma once
#include <stdexcept>
#include <string>

namespace kestrel {

// The one exception type of the program: a plain message text meant for a person.
// `outputFailed` marks a file that could not be written (disk full, file-size limit): such an
// error ends the whole run, since every later output would meet it too.
class KestrelError : public std::runtime_error {
public:
    explicit KestrelError(const std::string& message, bool outputFailed = false)
        : std::runtime_error(message), outputFailed_(outputFailed) {}
    bool OutputFailed() const { return outputFailed_; }

private:
    bool outputFailed_;
};

// The message for an allocation that failed (std::bad_alloc, std::length_error) while reading
// `file`: a damaged or hostile file asked for more memory than the machine would give.
inline std::string OutOfMemoryMessage(const std::string& file, const std::string& doing) {
    return file + ": not enough memory " + doing +
           " (the file may be damaged, or larger than this machine can hold)";
}

} // namespace kestrel
