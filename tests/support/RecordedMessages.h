#pragma once
#include "common/Reporter.h"

#include <string>
#include <vector>

namespace kestrel::test {

// Keeps every message the core sends, for tests to check.
class RecordedMessages : public Reporter {
public:
    void Notice(const std::string& text) override { notices.push_back(text); }
    void Alert(const std::string& text) override { alerts.push_back(text); }
    void ProgressLine(const std::string& text) override { lines.push_back(text); }
    void Progress(int percent) override { percents.push_back(percent); }
    void Breathe() override { ++breaths; }
    std::vector<std::string> notices, alerts, lines;
    std::vector<int> percents;
    int breaths = 0;
};

} // namespace kestrel::test
