#include "support/CatalogBuilder.h"

#include "common/Base64.h"

#include <cstdint>

namespace kestrel::test {
namespace {

void PutInt32(std::string& out, int32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF));
}

void PutShortText(std::string& out, const std::string& text) {
    out.push_back(static_cast<char>(text.size()));
    out += text;
}

std::string Utf16Le(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

std::string Quoted(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); ++i)
        out += (i == 0 ? "\"" : ",\"") + texts[i] + "\"";
    return out + "]";
}

} // namespace

std::string BuildCatalogJson(const std::vector<CatalogBundle>& bundles,
                             const std::vector<std::string>& prefixes) {
    std::vector<std::string> ids;
    std::string extra;
    std::string entries;
    PutInt32(entries, static_cast<int32_t>(bundles.size() + 1));
    for (size_t i = 0; i < bundles.size(); ++i) {
        ids.push_back(bundles[i].internalId);
        const std::string json =
            "{\"m_Hash\":\"0123456789abcdef0123456789abcdef\",\"m_Crc\":" + bundles[i].crcText +
            ",\"m_Timeout\":0,\"m_ChunkedTransfer\":false,\"m_RedirectLimit\":-1,"
            "\"m_RetryCount\":0,\"m_BundleName\":\"bundle" +
            std::to_string(i) +
            "\",\"m_AssetLoadMode\":0,\"m_BundleSize\":" + std::to_string(1000 + i) +
            ",\"m_ClearOtherCachedVersionsWhenLoaded\":false}";
        const int32_t offset = static_cast<int32_t>(extra.size());
        extra.push_back('\x07'); // a JSON object
        PutShortText(extra, "Unity.ResourceManager");
        PutShortText(extra,
                     "UnityEngine.ResourceManagement.ResourceProviders.AssetBundleRequestOptions");
        PutInt32(extra, static_cast<int32_t>(json.size() * 2));
        extra += Utf16Le(json);
        // internal id, provider, dependency key, dependency hash, extra data, primary key, type
        for (const int32_t v :
             {static_cast<int32_t>(i), 0, -1, 0, offset, static_cast<int32_t>(i), 0})
            PutInt32(entries, v);
    }
    ids.push_back("Assets/Hero.png");
    for (const int32_t v : {static_cast<int32_t>(bundles.size()), 1, 0, 77, -1,
                            static_cast<int32_t>(bundles.size()), 1})
        PutInt32(entries, v);
    std::string empty;
    PutInt32(empty, 0);
    return "{\"m_LocatorId\":\"AddressablesMainContentCatalog\",\"m_InstanceProviderData\":"
           "{\"m_Id\":\"\",\"m_ObjectType\":{\"m_AssemblyName\":\"\",\"m_ClassName\":\"\"},"
           "\"m_Data\":\"\"},\"m_ProviderIds\":[\"UnityEngine.ResourceManagement."
           "ResourceProviders.AssetBundleProvider\",\"UnityEngine.ResourceManagement."
           "ResourceProviders.BundledAssetProvider\"],\"m_InternalIds\":" +
           Quoted(ids) + ",\"m_KeyDataString\":\"" + Base64Encode(empty) +
           "\",\"m_BucketDataString\":\"" + Base64Encode(empty) + "\",\"m_EntryDataString\":\"" +
           Base64Encode(entries) + "\",\"m_ExtraDataString\":\"" + Base64Encode(extra) +
           "\",\"m_resourceTypes\":[{\"m_AssemblyName\":\"Unity.ResourceManager\",\"m_ClassName\":"
           "\"UnityEngine.ResourceManagement.ResourceProviders.IAssetBundleResource\"},"
           "{\"m_AssemblyName\":\"UnityEngine.CoreModule\",\"m_ClassName\":"
           "\"UnityEngine.Texture2D\"}],\"m_InternalIdPrefixes\":" +
           Quoted(prefixes) + "}";
}

} // namespace kestrel::test
