#include "app/ConsoleReporter.h"

namespace kestrel {

void ConsoleReporter::Line(std::FILE* f, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
    std::fflush(f);
}

} // namespace kestrel
