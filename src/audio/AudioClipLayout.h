#pragma once
#include "common/EngineVersion.h"

#include <span>

namespace kestrel {

// How a field of an AudioClip body is stored.
enum class ClipFieldKind : uint8_t {
    I32,
    F32,
    U64,
    Bool,   // one byte
    Align,  // padding to a multiple of 4 counted from the object's start
    String, // u32 length, the bytes, padding to 4
};

struct ClipField {
    const char* name;
    ClipFieldKind kind;
};

// The fields of an AudioClip object (class 83) after its name, in the engine's order, for the
// releases [from, until).
struct AudioClipLayout {
    EngineVersion from;
    EngineVersion until;
    std::span<const ClipField> fields;
};

// Every row, oldest first; together they cover 5.5 and every later release.
std::span<const AudioClipLayout> AudioClipLayouts();

// The row covering `version`, or nullptr for releases before 5.5 (told apart by their bytes).
const AudioClipLayout* AudioClipLayoutFor(const EngineVersion& version);

} // namespace kestrel
