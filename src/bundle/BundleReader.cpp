#include "bundle/BundleReader.h"

#include "bundle/BundleDetail.h"
#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/ByteStreams.h"

#include <algorithm>
#include <array>
#include <system_error>

namespace kestrel {

namespace bundle_detail {

void Damaged(const std::string& file, uint64_t offset, const std::string& what) {
    throw KestrelError(file + ": offset " + HexOffset(offset) + ": " + what);
}

std::unique_ptr<OutputFile> CreateWorkCopy(ContainerInfo& info, uint64_t declaredSize) {
    std::unique_ptr<OutputFile> out;
    std::string path;
    if (info.options.makeCopy) {
        out = info.options.makeCopy(declaredSize, path);
    } else {
        const std::filesystem::path archive(info.workFileName);
        std::filesystem::path made;
        out = CreateUniqueFile(archive.parent_path(), archive.filename().string(), ".TEMP", made);
        if (!out) throw KestrelError("Cannot create a working copy beside " + archive.string());
        path = made.string();
    }
    info.workFileName = path;
    info.madeWorkCopy = true;
    return out;
}

void ReportCopyProgress(const ContainerInfo& info, uint64_t done, uint64_t total) {
    if (info.options.progress) info.options.progress(done, total == UINT64_MAX ? 0 : total);
}

void PutU32BE(OutputFile& out, uint64_t pos, uint32_t value) {
    const std::array<uint8_t, 4> b = {
        static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    out.WriteAt(pos, b.data(), b.size());
}

void PutU64BE(OutputFile& out, uint64_t pos, uint64_t value) {
    PutU32BE(out, pos, static_cast<uint32_t>(value >> 32));
    PutU32BE(out, pos + 4, static_cast<uint32_t>(value));
}

void CopyRange(const std::shared_ptr<const ByteSource>& source, uint64_t pos, uint64_t size,
               OutputFile& out) {
    SourceInput in(source, pos, pos + size);
    FileOutput sink(out);
    if (CopyStream(in, sink) != size) Damaged(source->Name(), in.Pos(), "unexpected end of data");
}

void CheckEntriesInside(const BundleStructure& bundle, uint64_t dataEnd, const std::string& file) {
    const uint64_t room = dataEnd > bundle.dataStart ? dataEnd - bundle.dataStart : 0;
    auto check = [&](const std::string& name, uint64_t offset, uint64_t size) {
        if (offset > room || size > room - offset) {
            Damaged(file, bundle.dataStart,
                    "inner file \"" + name + "\" (" + std::to_string(size) + " bytes at " +
                        std::to_string(offset) + ") lies outside the " + std::to_string(room) +
                        " bytes of bundle data");
        }
    };
    if (bundle.IsRawWeb()) {
        for (const auto& e : bundle.RW.Entries)
            check(e.Name, e.Offset, e.Size);
    } else {
        for (const auto& n : bundle.FS.Nodes)
            check(n.Name, n.Offset, n.Size);
    }
}

} // namespace bundle_detail

namespace {

// The signature: the bytes before the first NUL among the first 16 (fewer at the end of a short
// file, which then is simply no bundle).
std::string ReadSignature(Reader& r) {
    std::array<char, 16> buf{};
    const uint64_t got = r.TryBytes(buf.data(), buf.size());
    uint64_t len = 0;
    while (len < got && buf[len] != '\0')
        ++len;
    r.Seek(std::min(len + 1, r.End()));
    return std::string(buf.data(), static_cast<size_t>(len));
}

} // namespace

ContainerInfo ReadContainer(const std::string& path, BundleStructure& bundle,
                            const ContainerOptions& options) {
    bundle = BundleStructure{};
    ContainerInfo info;
    info.workFileName = path;
    info.options = options;
    if (info.options.shownName.empty()) info.options.shownName = path;
    info.work = FileSource::Open(path, info.options.shownName);
    Reader r(info.work, Endian::Big);
    bundle.Signature = ReadSignature(r);
    if (!bundle.IsBundleSignature()) return info;
    bundle.FormatVersion = r.U32BE("format version");
    if (!bundle.IsRawWeb() && !bundle.IsFormat6()) return info;
    try {
        if (bundle.IsRawWeb()) {
            bundle_detail::ReadRawWeb(r, info, bundle);
        } else {
            bundle_detail::ReadFormat6(r, info, bundle);
        }
    } catch (...) {
        if (info.madeWorkCopy) {
            info.work.reset();
            std::error_code ec;
            std::filesystem::remove(info.workFileName, ec);
            ScratchFiles::Remove(info.workFileName);
        }
        throw;
    }
    info.isBundle = true;
    return info;
}

std::vector<InnerEntry> InnerEntries(const BundleStructure& bundle) {
    std::vector<InnerEntry> out;
    if (bundle.IsRawWeb()) {
        for (const auto& e : bundle.RW.Entries) {
            out.push_back({e.Name, bundle.dataStart + e.Offset, e.Size});
        }
    } else if (bundle.IsFormat6()) {
        for (const auto& n : bundle.FS.Nodes) {
            out.push_back({n.Name, bundle.dataStart + n.Offset, n.Size});
        }
    }
    return out;
}

std::string CutInnerName(std::string_view name) {
    if (auto p = name.rfind('\\'); p != std::string_view::npos) name.remove_prefix(p + 1);
    if (auto p = name.rfind('/'); p != std::string_view::npos) name.remove_prefix(p + 1);
    return std::string(name);
}

bool IsResourceEntry(std::string_view name) {
    std::string lower = CutInnerName(name);
    for (char& c : lower)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return lower.ends_with(".ress") || lower.ends_with(".resource");
}

std::vector<size_t> ResourceEntriesOf(const std::vector<std::string>& names, size_t owner) {
    const auto withoutExtension = [](const std::string& name) {
        return name.substr(0, std::min(name.rfind('.'), name.size()));
    };
    const std::string ownerName = CutInnerName(names.at(owner));
    std::vector<size_t> found;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i == owner || !IsResourceEntry(names[i])) continue;
        const std::string base = withoutExtension(CutInnerName(names[i]));
        if (base == ownerName || base == withoutExtension(ownerName)) found.push_back(i);
    }
    return found;
}

} // namespace kestrel
