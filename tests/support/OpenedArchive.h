#pragma once
// An archive opened as a run opens it, with one inner file parsed: what most tests start from.
#include "session/Archive.h"
#include "session/ConverterInput.h"
#include "session/RunOptions.h"
#include "support/RecordedMessages.h"

#include <memory>
#include <string>

namespace kestrel::test {

struct OpenedArchive {
    RunOptions options;
    RecordedMessages messages;
    Reporter* reporter = &messages; // where the archive's operations report
    std::unique_ptr<Archive> archive;
    ParsedInnerFile inner;

    OpenedArchive() = default;
    // Opens `path` and parses the inner file `entry` chooses (the first one by default).
    explicit OpenedArchive(const std::string& path, const EntrySelector& entry = {}) {
        Open(path, entry);
    }
    void Open(const std::string& path, const EntrySelector& entry = {}) {
        inner = ParsedInnerFile{};
        archive.reset();
        archive = Archive::Open(path, *reporter);
        Select(archive->Resolve(entry));
    }
    // Parses inner file `index` (again, after an import) as the open one.
    void Select(size_t index) { inner = archive->Parse(index, options, reporter); }
    InnerScope Scope() const { return InnerScope{*archive, inner, options, *reporter}; }
    ItemTable& Items() { return inner.Items(); }
    const ItemTable& Items() const { return inner.Items(); }
};

// The selector of inner file `index`, as -e N gives it.
inline EntrySelector Entry(uint32_t index) {
    return EntrySelector{index, std::nullopt, true};
}

} // namespace kestrel::test
