#pragma once
#include "common/Reporter.h"

#include <cstdio>

namespace kestrel {

// Command-line mode: progress lines and notices on stdout, alerts (the texts the window shows
// in a message box) on stderr, one line each.
class ConsoleReporter : public Reporter {
public:
    ConsoleReporter(std::FILE* out = stdout, std::FILE* err = stderr) : out_(out), err_(err) {}
    void Notice(const std::string& text) override { Line(out_, text); }
    void Alert(const std::string& text) override { Line(err_, text); }
    void ProgressLine(const std::string& text) override { Line(out_, text); }
    void Progress(int) override {}
    void Breathe() override {}

    static void Line(std::FILE* f, const std::string& text);

private:
    std::FILE* out_;
    std::FILE* err_;
};

} // namespace kestrel
