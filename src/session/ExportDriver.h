#pragma once
// Exporting the objects of one parsed inner file: each object's payload or raw file and the
// converted files its options ask for.
#include "session/ConverterInput.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

struct ExportCount {
    size_t attempted = 0;
    size_t failed = 0;
    ExportCount& operator+=(const ExportCount& o) {
        attempted += o.attempted;
        failed += o.failed;
        return *this;
    }
};

// The words that end an export, in the interface language: "312 objects exported to DIR", and
// "2 of 314 objects failed" when some failed (the command line's alert).
std::string ExportDoneLine(const ExportCount& count, const std::string& dir,
                           const InterfaceTexts& text);
std::string ExportFailedLine(const ExportCount& count, const InterfaceTexts& text);

// True when an object of this class passes the -t filter (always without -t).
bool PassesTypeFilter(const RunOptions& options, int32_t classId);

// The objects an export of the inner file covers: those passing the -t filter, or every one.
std::vector<size_t> ExportedObjects(const ParsedInnerFile& inner, const RunOptions& options,
                                    bool everyObject);

// Exports the given objects in this order, each with a progress line (its path in the export
// tree). A failed object is reported (Alert) and counted, and the export goes on with the next;
// an output that cannot be written ends it with a KestrelError.
ExportCount ExportObjects(const InnerScope& scope, const std::vector<size_t>& indices);

// Writes object `index`'s payload or raw file into its export tree anew, whatever the options.
void RewriteRawFile(const InnerScope& scope, size_t index);

} // namespace kestrel
