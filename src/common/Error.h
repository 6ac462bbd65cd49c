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

} // namespace kestrel
