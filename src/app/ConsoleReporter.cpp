#include "app/ConsoleReporter.h"

#include <algorithm>
#include <string>

namespace kestrel {

void ConsoleReporter::Line(std::FILE* f, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
    std::fflush(f);
}

void ConsoleReporter::ClearBar() {
    if (!barShown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    barShown_ = false;
    lastPercent_ = -1;
}

void ConsoleReporter::Print(std::FILE* f, const std::string& text) {
    ClearBar();
    Line(f, text);
}

void ConsoleReporter::Progress(int percent) {
    if (!drawBar_) return;
    percent = std::clamp(percent, 0, 100);
    if (percent == 100) {
        ClearBar();
        return;
    }
    if (percent == lastPercent_) return;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    const std::string bar = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                            std::string(static_cast<size_t>(kWidth - filled), ' ') + "] " +
                            std::to_string(percent) + "%\033[K";
    std::fputs(bar.c_str(), err_);
    std::fflush(err_);
    barShown_ = true;
    lastPercent_ = percent;
}

} // namespace kestrel
