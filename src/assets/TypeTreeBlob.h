#pragma once
#include "assets/AssetsTypes.h"
#include "io/Reader.h"

#include <cstdint>
#include <vector>

namespace kestrel {

// A type tree blob (formats 12 and later: nodes of 24 bytes, 32 from format 19, then the string
// buffer); tells whether its first field is the name string. With `keep`, every node goes into it,
// its texts viewing one copy of the blob's string buffer (or the engine's common strings).
bool ReadTypeTreeBlob(Reader& r, int32_t format, TypeTreeNodes* keep);

} // namespace kestrel
