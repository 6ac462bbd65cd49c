#include "mesh/MeshExport.h"

#include "io/AtomicFile.h"

#include "common/Error.h"
#include "io/Writer.h"
#include "mesh/MeshClass.h"
#include "mesh/ObjWriter.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace kestrel {

namespace {

// Writes the OBJ text through the atomic output file, so a failed conversion leaves no partial
// file (and an earlier export of the same mesh intact).
void SaveObj(const ConverterInput& in, const TMeshBase& mesh) {
    AtomicOutputFile out(in.OutputFile(in.exportName + ".obj"),
                         AtomicOutputFile::Flush::RenameOnly);
    WriteObjText(mesh, StripExtension(in.exportName),
                 [&out](std::string_view chunk) { out.Write(chunk.data(), chunk.size()); });
    out.Commit();
}

} // namespace

void ExportMeshOBJ(const ConverterInput& in, int32_t engineMajorVersion) {
    KestrelState& state = in.state;
    const TLocalization& text = state.Localization;
    const auto failure = [&in](const std::string& message) {
        return KestrelError(message + " " + in.exportName);
    };

    if (state.assets.header.BigEndianFlag == 1) {
        // Shown on the command line's standard output as well as by the driver's error report.
        state.Report().ProgressLine(text.MsgMeshBigEndian + " " + in.exportName);
        throw failure(text.MsgMeshBigEndian);
    }

    TMeshBase mesh;
    TMeshBase::ReadResult result = TMeshBase::ReadResult::Ok;
    try {
        Reader r = in.object;
        r.SetOrder(Endian::Little);
        result = mesh.Read(r, engineMajorVersion);
    } catch (const std::exception&) {
        throw failure(text.MsgMeshFormat);
    }
    if (result == TMeshBase::ReadResult::Compressed) throw failure(text.MsgMeshCompressed);

    try {
        SaveObj(in, mesh);
    } catch (const std::exception&) {
        throw failure(text.MsgMeshConvert);
    }
    state.Report().ProgressLine(in.exportName + " -> OBJ");
}

} // namespace kestrel
