#pragma once
// The write side of serialized files of formats 16 to 22, and of formats 5 to 8: the edits of an
// import applied with every object kept on the file's object alignment (8 bytes), the byte starts
// and sizes of the object table rewritten where each entry holds them (64-bit byte starts in
// format 22) and the header's file size (64-bit in format 22) adjusted. Formats 5 to 8 keep the
// object table in the metadata at the end of the file: the metadata moves whole behind the
// objects and keeps its size, so the header's metadata size stays as it is.
#include "assets/AssetsWrite.h"

namespace kestrel {

// As RewriteAssets, for file.header.formatVersion 16 to 22 and 5 to 8. Each edited object is
// followed by the zero bytes that bring the next object back to a multiple of file.objectAlignment
// from the data offset, so every later object moves by a multiple of that alignment.
std::shared_ptr<const ByteSource> RewriteModernAssets(const AssetsFile& file,
                                                      const std::shared_ptr<const ByteSource>& work,
                                                      uint64_t assetsBase, uint64_t innerSize,
                                                      const std::vector<ObjectEdit>& edits);

} // namespace kestrel
