#pragma once
#include <stdexcept>
#include <string>

namespace kestrel {

// The one exception type of the program: a plain message text meant for a person.
class KestrelError : public std::runtime_error {
public:
    explicit KestrelError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace kestrel
