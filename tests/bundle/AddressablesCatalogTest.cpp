// Clearing the CRC of edited bundles in an Addressables catalog built from the format notes:
// which locations match, and that nothing but the CRC's digits changes.
#include "bundle/AddressablesCatalog.h"
#include "common/Error.h"
#include "support/CatalogBuilder.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const std::vector<std::string> kPrefixes = {
    "{UnityEngine.AddressableAssets.Addressables.RuntimePath}/Android"};

TEST(AddressablesCatalog, OnlyTheCrcOfTheBundlesNamedBecomesZero) {
    struct Case {
        std::string name;
        std::vector<std::string> bundles;
        std::string aCrc, bCrc; // expected afterwards
    };
    const std::string a =
        "{UnityEngine.AddressableAssets.Addressables.RuntimePath}/Android/a.bundle";
    const std::string b = "0#/sub/b.bundle"; // through the prefix list
    for (const Case& c : std::vector<Case>{
             {"by its path below the catalog", {"Android/a.bundle"}, "0    ", "77"},
             {"through a prefix", {"Android/sub/b.bundle"}, "12345", "0 "},
             {"both", {"Android/sub/b.bundle", "Android/a.bundle"}, "0    ", "0 "},
             {"a name alone is no path", {"b.bundle", "Android/b.bundle"}, "12345", "77"},
             {"no bundle", {}, "12345", "77"}}) {
        const std::string before = BuildCatalogJson({{a, "12345"}, {b, "77"}}, kPrefixes);
        const CatalogCrcEdit edit = ClearBundleCrcs(before, c.bundles, "catalog.json");
        EXPECT_EQ(edit.text, BuildCatalogJson({{a, c.aCrc}, {b, c.bCrc}}, kPrefixes)) << c.name;
        EXPECT_EQ(edit.cleared.size(), (c.aCrc != "12345") + (c.bCrc != "77")) << c.name;
    }
    // A CRC of 0 stays as it is: nothing to clear.
    const std::string zero = BuildCatalogJson({{a, "0"}}, kPrefixes);
    EXPECT_TRUE(ClearBundleCrcs(zero, {"Android/a.bundle"}, "catalog.json").cleared.empty());
}

TEST(AddressablesCatalog, ACatalogOfAnotherFormIsRefusedNamingIt) {
    const std::string good = BuildCatalogJson({{"x/a.bundle", "5"}});
    for (const std::string& bad :
         {std::string("{\"m_LocatorId\":\"x\"}"), good.substr(0, good.size() / 2),
          std::string(good).replace(good.find("m_EntryDataString\":\"") + 20, 4, "!!!!")}) {
        try {
            ClearBundleCrcs(bad, {"x/a.bundle"}, "game/catalog.json");
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const KestrelError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("game/catalog.json: ", 0), 0u) << e.what();
        }
    }
}

} // namespace
