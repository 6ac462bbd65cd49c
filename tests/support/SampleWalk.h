#pragma once
#include "io/Reader.h"
#include "support/AudioObjects.h"
#include "support/OpenedArchive.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kestrel::test {

// True for the inner files of a bundle that hold streamed data (.resS, .resource).
bool IsResourceEntry(const std::string& name);

// Runs fn(index, body) on every object of the class in the parsed inner file that has fields
// after its name; body covers those fields, in the file's byte order.
void ForEachBody(const OpenedArchive& opened, int32_t classId,
                 const std::function<void(size_t, const Reader&)>& fn);

// A run over the samples of serialized formats first..last that hold a class: each is copied
// with its companions into a fresh directory and opened, and every inner assets file is handed to
// a check; a bundle's resource entries are exported before, as the export task does, since
// objects read their streamed data from those copies.
class SampleWalk {
public:
    // The archive with the inner file parsed, its messages, the sample copy's directory and the
    // sample's local path (for messages).
    using Check = std::function<void(OpenedArchive&, RecordedMessages&,
                                     const std::filesystem::path&, const std::string&)>;

    SampleWalk(const std::filesystem::path& samples, int first, int last,
               const std::string& className);

    const std::vector<std::string>& Samples() const { return list_; }
    void Run(const Check& check);
    // What the checks found wrong; a check adds its own.
    std::vector<std::string> problems;
    // Why the run is skipped when it found no object of the class although samples hold some:
    // the assets parser opened not all of them, which is told, not failed. Empty otherwise.
    std::string SkipReason(size_t objectsFound) const;
    // The samples that did not open, then the problems.
    std::vector<std::string> Failures() const;

private:
    std::filesystem::path samples_;
    int first_;
    int last_;
    std::vector<std::string> list_;
    std::vector<std::string> unreadable_; // each with the error
};

} // namespace kestrel::test
