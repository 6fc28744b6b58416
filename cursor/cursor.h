// Animated cursors: the reader of RIFF "ACON" files, whose frames are icon or cursor files, and
// the hand-over of the frames to an icon, a bitmap strip or a list of icons. Writing is not
// supported.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/core/byte_reader.h"
#include "toolkit/device/colors.h"
#include "toolkit/core/handles.h"
#include "toolkit/device/icon.h"
#include "toolkit/core/lists.h"
#include "toolkit/core/persistent.h"
#include "toolkit/core/streams.h"

namespace tk {
class TBitmap;
}

namespace cursor {

// ---- RIFF chunks

// The 8-byte header of a chunk: a four-character identifier and the size of the data that
// follows (then one pad byte when the size is odd). Sizes are unsigned: a size of 2^31 or more
// is a chunk that runs past the end of any data this reader holds, never a step backwards.
struct TChunkHeader {
  std::array<char, 4> Id{};
  std::uint32_t Size = 0;

  bool Is(std::string_view id) const { return std::string_view(Id.data(), 4) == id; }
};

// n + (n mod 2), the remainder taking the sign of n (-3 gives -4): a chunk's size with its pad.
constexpr std::int64_t PadToEven(std::int64_t n) { return n + n % 2; }

// Each returns whether it succeeded; none reads beyond the data or moves backwards. They work on
// the toolkit's bounded reader; the forms on a memory stream work on its bytes from its position
// and leave the stream where the reading left off.
// Reads 8 bytes.
bool ReadChunkHeader(tk::ByteReader& data, TChunkHeader& header);
bool ReadChunkHeader(tk::TMemoryStream& stream, TChunkHeader& header);
// Reads the chunk's data into data (resized to the chunk size) and skips the pad byte. Fails,
// reading nothing, when the data does not hold the whole chunk.
bool ReadChunkData(tk::ByteReader& data, const TChunkHeader& header, std::vector<std::uint8_t>& out);
bool ReadChunkData(tk::TMemoryStream& stream, const TChunkHeader& header, std::vector<std::uint8_t>& out);
// Reads the first min(size, destination size) bytes of the data into the destination and skips
// the rest of the chunk with its pad byte.
bool ReadChunkPart(tk::ByteReader& data, const TChunkHeader& header, std::span<std::uint8_t> destination);
bool ReadChunkPart(tk::TMemoryStream& stream, const TChunkHeader& header, std::span<std::uint8_t> destination);
// Moves past the chunk's data and pad byte.
bool SkipChunk(tk::ByteReader& data, const TChunkHeader& header);
bool SkipChunk(tk::TMemoryStream& stream, const TChunkHeader& header);

// The colour count of an image's bits per pixel: 1 gives 2, 4 gives 16, 8 gives 256, else 0.
int ColorsFromBitCount(int bits);

// ---- The animated cursor

// The 36-byte "anih" record, nine signed 32-bit little-endian fields.
struct TAniHeader {
  std::int32_t HeaderSize = 0;
  std::int32_t FrameCount = 0;   // icon pictures
  std::int32_t StepCount = 0;    // after a load: the frames kept
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t BitCount = 0;
  std::int32_t Planes = 0;
  std::int32_t DisplayRate = 0;  // the default rate, in jiffies (1/60 second)
  std::int32_t Flags = 0;        // bit 0: frames are icon or cursor files; bit 1: "seq " present

  static constexpr std::size_t kSize = 36;
  static TAniHeader FromBytes(std::span<const std::uint8_t, kSize> bytes);
};

inline constexpr std::int32_t AF_ICON = 1;
inline constexpr std::int32_t AF_SEQUENCE = 2;

// One frame: an icon picture with the cursor's hotspot, display rate and icon number.
class TIconFrame : public tk::TPersistent {
 public:
  TIconFrame(std::int32_t sequence, std::int32_t rate) : Rate(rate), Sequence(sequence) {}

  std::string_view ClassName() const override { return "TIconFrame"; }
  // From another frame: a copy of its picture (made when this frame has none) and its fields.
  void TakeFrom(tk::TPersistent* source) override;

  std::unique_ptr<tk::TIcon> Picture;  // none until an icon is read for the frame
  bool FromIconFile = false;           // the "icon" chunk held an icon file, not a cursor file
  TChunkHeader ChunkHead;              // the header of that "icon" chunk
  tk::TPoint Hotspot;
  std::int32_t Rate = 0;               // display time in jiffies
  // The icon, counted from 0 in the order of the "icon" chunks, that the frame shows; -1 for a
  // frame made for an icon no frame asked for.
  std::int32_t Sequence = -1;
};

class TIconList;

class TAnimatedCursorImage : public tk::TPersistent {
 public:
  // An empty cursor: no frames, a zero header, empty texts.
  TAnimatedCursorImage() = default;
  ~TAnimatedCursorImage() override;

  std::string_view ClassName() const override { return "TAnimatedCursorImage"; }

  // To a TIcon: frame 0's picture (empty without frames). To a TBitmap: DrawStrip with the
  // bitmap's brush colour, reduced, horizontal (empty without frames). To a TIconList: every
  // frame's picture in order. Anything else: the cannot-assign failure.
  void GiveTo(tk::TPersistent* target) override;
  // From another cursor: a copy of everything; from null: empty.
  void TakeFrom(tk::TPersistent* source) override;

  // Reads an animated cursor from the rest of the stream; at the end of the stream nothing
  // happens. Damaged data fails with EReadError "Stream read error" and keeps what was read.
  virtual void LoadStream(tk::TStream& stream);
  // Not supported: shows "Function not yet implemented" and aborts silently.
  virtual void SaveStream(tk::TStream& stream);
  // Loads a file; a failure leaves the cursor empty.
  virtual void ReadCursorFile(const std::string& fileName);

  // Reads the memory stream from its start; LoadStream's work once the bytes are in memory.
  void ReadCursor(tk::TMemoryStream& stream);

  // Frees the frames and empties the texts, the header and the colour count.
  void ClearFrames();

  int FrameCount() const { return static_cast<int>(frames_.size()); }
  // A bad index fails with EListError "List index out of bounds (%d)".
  TIconFrame& FrameAt(int index) const;
  tk::TIcon* FramePicture(int index) const { return FrameAt(index).Picture.get(); }

  const TAniHeader& AniHeader() const { return header_; }
  std::string Title() const { return title_.data(); }
  std::string Author() const { return author_.data(); }
  // The most colours of an image with 1, 4 or 8 bits in the icon files read: 2, 16, 256, or 0.
  std::uint16_t MaxColors() const { return maxColors_; }

  // All frames side by side (a vertical strip when vertical) in a new bitmap of the background
  // colour, each frame's picture at i times its own width (height); with reduce, converted to
  // a palette of max(MaxColors, 16) colours. The result is assigned to the bitmap.
  void DrawStrip(tk::TBitmap& bitmap, tk::TColor background, bool reduce, bool vertical);

  // The memory that the pictures of one cursor may take together, counted as the bytes of their
  // icon files plus an upkeep for each picture: frames that share an icon each own a copy, and
  // a damaged file must not multiply its size without bound. A load beyond it fails with
  // EReadError. Quirk: a limit of our own. Test: Reading.DamagedFilesFailOrStopCleanly.
  static constexpr std::int64_t kMaxPictureBytes = std::int64_t{256} << 20;
  static constexpr std::int64_t kPictureUpkeep = 1024;

 private:
  struct Reading;
  // An "icon" chunk of the given size at the stream's position: the icon or none, with the
  // icon-file flag and the hotspot.
  std::unique_ptr<tk::TIcon> ReadIconChunk(tk::ByteReader& data, std::uint32_t size, bool& fromIconFile,
                                           tk::TPoint& hotspot);
  void ReadFrameList(tk::ByteReader& data, std::int64_t remaining, Reading& reading);
  void ReadInfoList(tk::ByteReader& data, std::int64_t remaining);

  TAniHeader header_;
  std::array<char, 256> title_{};
  std::array<char, 256> author_{};
  std::vector<std::unique_ptr<TIconFrame>> frames_;
  std::uint16_t maxColors_ = 0;
};

// ---- The icon list

// A list of icons that owns copies of the icons added to it. Changes between BeginUpdate and
// EndUpdate are signalled once, at the last EndUpdate.
class TIconList : public tk::TPersistent {
 public:
  std::string_view ClassName() const override { return "TIconList"; }

  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  void Clear();
  // Appends a copy of the icon (an empty icon for null) and returns its index.
  int Add(tk::TIcon* icon);
  int Count() const { return icons_.Count(); }
  tk::TIcon& operator[](int index) const { return icons_[index]; }

  std::function<void(TIconList*)> OnChange;

 private:
  void Changed();

  tk::TObjectList<tk::TIcon> icons_;
  int updateCount_ = 0;
  bool changed_ = false;
};

// The clipboard format of icon lists, "Protractor Icon List"; 0 until InitializeCursor ran.
tk::TClipboardFormat IconListClipboardFormat();
// The module's start-up: registers the icon-list clipboard format. Runs once; later calls do
// nothing.
void InitializeCursor();

}  // namespace cursor
