#pragma once
// The JSON catalog ("catalog.json") Addressables 1.x writes beside a game's bundles. Each
// location of a bundle carries the bundle's request options in the catalog's extra data
// (m_ExtraDataString, base64): a serialized JSON object whose "m_Crc" the game checks the loaded
// bundle against. A bundle Kestrel rewrote no longer matches that CRC; a CRC of 0 turns the check
// off.
//
// The entries (m_EntryDataString, base64): a 32-bit count, then seven 32-bit integers per
// location, little-endian: internal id index, provider index, dependency key index, dependency
// hash, extra data offset (-1: none), primary key index, resource type index. The internal ids
// (m_InternalIds) may start "N#", standing for m_InternalIdPrefixes[N]. Extra data at an offset:
// a type byte (7: a JSON object), the assembly and class names (a length byte and ASCII each),
// then a 32-bit byte count and the JSON text in UTF-16LE.
#include <cstddef>
#include <string>
#include <vector>

namespace kestrel {

struct CatalogCrcEdit {
    std::string text;                 // the catalog with the CRCs cleared
    std::vector<std::string> cleared; // internal ids whose CRC was set to 0, in catalog order
};

// Sets to 0 the "m_Crc" of every bundle location whose internal id names one of `bundles`
// ("/"-separated paths relative to the catalog's folder: the id after its "{...}" placeholder
// is that path; an id without one ends with "/" and that path). The digits become "0" followed by
// blanks, so the extra data keeps its length and every offset into it holds; the catalog's other
// bytes stay as they are. Raises a KestrelError naming `shownName` and the field when the catalog
// is not of this form.
CatalogCrcEdit ClearBundleCrcs(const std::string& catalogText,
                               const std::vector<std::string>& bundles,
                               const std::string& shownName);

} // namespace kestrel
