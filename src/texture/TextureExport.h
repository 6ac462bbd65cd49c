#pragma once
#include "assets/ConverterInput.h"

namespace kestrel {

// Texture converters called by the export driver. Each reads the object bytes in `in.object`,
// writes its files into in.relativeDir (plus "res_<name>/" for a texture streamed from a resource
// file) and its progress line. A missing resource file raises a KestrelError and writes nothing; a
// texture whose sizes do not fit its object or resource file, or a refused resource path, raises
// KestrelError before anything is written.

// Texture2D (28) and Cubemap (89): one DDS file per image, ExportName + ".dds" (+ "_k").
void ExportTextureDDS(const ConverterInput& in);

// ProceduralTexture (186): ExportName + ".dds"; objects of 88 bytes or fewer are skipped.
void ExportProceduralTextureDDS(const ConverterInput& in);

// DXT1Crunched / DXT5Crunched: the first image's crunched data as ExportName + ".crn"; with
// ExportDDS set and the crunch tool beside the executable, also ExportName + ".crn.dds" made by
// that tool.
void ExportTextureCRN(const ConverterInput& in);

// One KTX 1.1 file per image, ExportName + ".ktx" (+ "_k").
void ExportTextureKTX(const ConverterInput& in);

// One PVR 3 file per image, ExportName + ".pvr" (+ "_k").
void ExportTexturePVR(const ConverterInput& in);

// Texture2D or Cubemap to a picture people open: level 0 of each image decoded and written top
// row first as PNG ("NAME.tex.png", image k as "_k" after it), float formats as EXR. A format
// without a decoder and a texture without pixels are a notice, and nothing is written.
void ExportTexturePNG(const ConverterInput& in);

} // namespace kestrel
