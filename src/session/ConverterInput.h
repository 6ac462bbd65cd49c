#pragma once
#include "assets/ConverterInput.h"
#include "session/Archive.h"
#include "session/RunOptions.h"

namespace kestrel {

// One inner file of an open archive as an operation works on it: the archive, the parsed inner
// file, the run's options and where messages go.
struct InnerScope {
    const Archive& archive;
    const ParsedInnerFile& inner;
    const RunOptions& options;
    Reporter& reporter;

    // archive's output base: -p, else the archive's directory (ends with "/").
    std::string OutputBaseDir() const { return archive.OutputBaseDir(options); }
    // "Unity_Assets_Files/" + inner.dirName + "/": the inner file's export tree, relative to the
    // output base.
    std::string TreeRelative() const;
    // The object's bytes after its name field, as every converter and the raw file see them.
    Reader ObjectBody(size_t index) const;
};

// Where resource files named by the objects of the inner file are looked up.
ResourcePlaces ResourcePlacesOf(const InnerScope& scope);

// The converters' view of the run: the open file, places, switches, language and reporter. It
// refers to the scope's inner file and reporter, so it lives no longer than they do.
ConverterContext ContextOf(const InnerScope& scope);

} // namespace kestrel
