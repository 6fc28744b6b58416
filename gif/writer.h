// Parts of the GIF stream writer that work on single blocks.
#pragma once

#include "gif/gif.h"
#include "toolkit/core/lists.h"
#include "toolkit/core/streams.h"

namespace gif {

// Writes the strings as a sub-block chain: each string as sub-blocks of 255 bytes (the last
// one shorter), an empty string as nothing, then the terminator 0.
void WriteSubBlocks(tk::TStream& out, const tk::TStringList& lines);

// Writes each extension of the list: introducer, label, fixed block and data sub-blocks.
void WriteExtensions(tk::TStream& out, const TExtensionList& extensions);

// The LZW data as kept by a frame, with a terminator added when its sub-block chain lacks one
// (a damaged image keeps the complete sub-blocks that could be read, without the terminator).
void WritePixelData(tk::TStream& out, const tk::TMemoryStream& data);

}  // namespace gif
