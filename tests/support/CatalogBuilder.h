#pragma once
// Addressables 1.x catalogs ("catalog.json") as the public format notes describe them: one
// location per bundle, whose request options (a JSON object in UTF-16LE, "m_Crc" among its
// fields) sit in the base64 extra data, and one asset location with no extra data.
#include <string>
#include <vector>

namespace kestrel::test {

struct CatalogBundle {
    std::string internalId; // as stored: "{...RuntimePath}/StandaloneWindows64/x.bundle", "0#/x"
    std::string crcText;    // the value's text in the options' JSON ("1234", "0   ")
};

// The catalog text; `prefixes` become m_InternalIdPrefixes.
std::string BuildCatalogJson(const std::vector<CatalogBundle>& bundles,
                             const std::vector<std::string>& prefixes = {});

} // namespace kestrel::test
