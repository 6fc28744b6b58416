// The bytes of the GIF stream format, defined once for the reader and the writer: the block
// introducers, the packed-field bits of the screen and image descriptors, the extension labels
// and the fixed parts of each extension kind, and the identifiers of the looping extension.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "gif/gif.h"

namespace gif {

// The bytes that open the blocks after the logical screen.
inline constexpr std::uint8_t kExtensionIntroducer = 0x21;  // "!"
inline constexpr std::uint8_t kImageSeparator = 0x2C;       // ","
inline constexpr std::uint8_t kTrailer = 0x3B;              // ";"

// Packed fields of the logical screen descriptor and the image descriptor.
inline constexpr std::uint8_t kColorTableFlag = 0x80;  // a global or local colour table follows
inline constexpr std::uint8_t kInterlaceFlag = 0x40;   // image rows are stored interlaced
inline constexpr std::uint8_t kTableSizeBits = 0x07;   // table size exponent - 1
// Bits 4-6 of the screen's packed fields: colour resolution - 1.
inline constexpr int kColorResolutionShift = 4;

// Bytes of the fixed first block (Header) of each kind, in Kind order: graphic control (size
// byte, packed fields, delay, transparent index, terminator), plain text (size byte and the
// text grid), application (size byte, identifier, authentication code), comment (none). Every
// kind but the graphic control then has a sub-block chain.
inline constexpr std::array<std::size_t, 4> ExtensionHeaderBytes = {6, 13, 12, 0};
inline constexpr bool HasSubBlocks(TExtensionKind kind) { return kind != ekGraphicControl; }

// The kind of an extension label (ExtensionLabels), or none for a label the format does not know.
constexpr std::optional<TExtensionKind> KindOfLabel(std::uint8_t label) {
  for (std::size_t kind = 0; kind < ExtensionLabels.size(); ++kind)
    if (ExtensionLabels[kind] == label) return static_cast<TExtensionKind>(kind);
  return std::nullopt;
}

// Graphic control packed fields: bit 0 the transparent index is valid, bits 2-4 the disposal.
inline constexpr std::uint8_t kTransparentFlag = 0x01;
inline constexpr int kDisposalShift = 2;

// The identifiers (with authentication code) of the looping application extension; the writer
// writes the first.
inline constexpr std::string_view kNetscapeLoop = "NETSCAPE2.0";
inline constexpr std::string_view kAnimExtsLoop = "ANIMEXTS1.0";

// The last extension of a kind in a list (searched from its end), or null; a null list has none.
TExtension* FindExtension(const TExtensionList* list, TExtensionKind kind);

}  // namespace gif
