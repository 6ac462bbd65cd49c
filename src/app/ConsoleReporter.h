#pragma once
#include "common/Reporter.h"

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace kestrel {

// Command-line mode: progress lines and notices on stdout, alerts (the texts the window shows
// in a message box) on stderr, one line each. With drawBar (stderr is a terminal) progress is a
// bar on stderr, one line redrawn in place; without it progress prints nothing. Several threads
// may report at once: each line is written whole, never interleaved with another.
class ConsoleReporter : public Reporter {
public:
    ConsoleReporter(std::FILE* out = stdout, std::FILE* err = stderr, bool drawBar = false)
        : out_(out), err_(err), drawBar_(drawBar) {}
    void Notice(const std::string& text) override { Print(out_, text); }
    void Alert(const std::string& text) override {
        const std::lock_guard<std::mutex> hold(mutex_);
        ++alerts_;
        PrintLocked(err_, text);
    }
    void ProgressLine(const std::string& text) override { Print(out_, text); }
    void Progress(int percent) override;
    void ProgressText(int percent, const std::string& text) override;
    void Breathe() override {}
    // The number of alerts shown so far.
    size_t Alerts() const {
        const std::lock_guard<std::mutex> hold(mutex_);
        return alerts_;
    }

    static void Line(std::FILE* f, const std::string& text);

private:
    void Print(std::FILE* f, const std::string& text) {
        const std::lock_guard<std::mutex> hold(mutex_);
        PrintLocked(f, text);
    }
    void PrintLocked(std::FILE* f, const std::string& text);
    void ClearBar();

    std::FILE* out_;
    std::FILE* err_;
    bool drawBar_;
    bool barShown_ = false;
    int lastPercent_ = -1;
    std::string lastText_;
    size_t alerts_ = 0;
    mutable std::mutex mutex_;
};

} // namespace kestrel
