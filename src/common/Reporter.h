#pragma once
#include <cstddef>
#include <string>

namespace kestrel {

// Everything the core tells a person goes through this interface; the window, the command line
// and the tests each implement it.
class Reporter {
public:
    virtual ~Reporter() = default;
    // A per-object notice: a message box in the window, a stdout line on the command line.
    virtual void Notice(const std::string& text) = 0;
    // A text shown in both modes (the export error dialog, a missing resource file): a message
    // box in the window, a stderr line on the command line.
    virtual void Alert(const std::string& text) = 0;
    // A progress line of a command-line task (an item path, "Export archive: ..."); the window
    // drops these.
    virtual void ProgressLine(const std::string& text) = 0;
    // Percentage of a long operation, 0 to 100.
    virtual void Progress(int percent) = 0;
    // The same with what has been done in words ("3 of 12 archives, 40 of 310 MiB"), for a run
    // over many archives; shown as the percentage alone where there is no room for words.
    virtual void ProgressText(int percent, const std::string& text) {
        (void)text;
        Progress(percent);
    }
    // Lets the window process pending events during a long operation.
    virtual void Breathe() = 0;
};

// Drops everything; for callers that want no output.
class SilentReporter : public Reporter {
public:
    void Notice(const std::string&) override {}
    void Alert(const std::string&) override {}
    void ProgressLine(const std::string&) override {}
    void Progress(int) override {}
    void Breathe() override {}
};

// Passes everything on to another reporter and counts the alerts shown.
class CountingReporter : public Reporter {
public:
    explicit CountingReporter(Reporter& next) : next_(next) {}
    void Notice(const std::string& text) override { next_.Notice(text); }
    void Alert(const std::string& text) override {
        ++alerts_;
        next_.Alert(text);
    }
    void ProgressLine(const std::string& text) override { next_.ProgressLine(text); }
    void Progress(int percent) override { next_.Progress(percent); }
    void ProgressText(int percent, const std::string& text) override {
        next_.ProgressText(percent, text);
    }
    void Breathe() override { next_.Breathe(); }
    size_t Alerts() const { return alerts_; }

private:
    Reporter& next_;
    size_t alerts_ = 0;
};

} // namespace kestrel
