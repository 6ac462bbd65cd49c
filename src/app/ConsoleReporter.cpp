#include "app/ConsoleReporter.h"

#include <algorithm>
#include <string>

namespace kestrel {

void ConsoleReporter::Line(std::FILE* f, const std::string& text) {
    // The stream stays locked for the whole line, so lines of other writers stay whole.
    ::flockfile(f);
    ::fwrite_unlocked(text.data(), 1, text.size(), f);
    ::fputc_unlocked('\n', f);
    ::funlockfile(f);
}

void ConsoleReporter::ClearBar() {
    if (!barShown_) return;
    std::fflush(out_);
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    barShown_ = false;
    lastPercent_ = -1;
}

// Lines on stdout are left to the stream's buffering (a line at a time on a terminal, large
// blocks into a pipe or file: a listing of 200,000 rows is then a few hundred writes, not 200,000).
// Whatever goes to stderr is written at once, after the lines already printed, so both streams
// keep their order on a terminal.
void ConsoleReporter::PrintLocked(std::FILE* f, const std::string& text) {
    ClearBar();
    if (f != out_) std::fflush(out_);
    Line(f, text);
    if (f != out_) std::fflush(f);
}

void ConsoleReporter::Progress(int percent) {
    ProgressText(percent, {});
}

void ConsoleReporter::ProgressText(int percent, const std::string& text) {
    if (!drawBar_) return;
    const std::lock_guard<std::mutex> hold(mutex_);
    percent = std::clamp(percent, 0, 100);
    if (percent == 100) {
        ClearBar();
        return;
    }
    if (percent == lastPercent_ && text == lastText_) return;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    const std::string bar = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                            std::string(static_cast<size_t>(kWidth - filled), ' ') + "] " +
                            std::to_string(percent) + "%" + (text.empty() ? "" : "  " + text) +
                            "\033[K";
    std::fflush(out_);
    std::fputs(bar.c_str(), err_);
    std::fflush(err_);
    barShown_ = true;
    lastPercent_ = percent;
    lastText_ = text;
}

} // namespace kestrel
