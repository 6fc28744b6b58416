// GIF pictures: the picture class TGIFImage with its frames, their extension blocks and the
// reference-counted holders of encoded data that copies of a picture share.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "colour/colour.h"
#include "gif/decoder.h"
#include "toolkit/device/gdi.h"
#include "toolkit/device/pixel_view.h"
#include "toolkit/core/graphic.h"
#include "toolkit/core/lists.h"
#include "toolkit/core/persistent.h"
#include "toolkit/core/streams.h"

namespace cursor {
class TAnimatedCursorImage;
}

namespace gif {

using tk::TColor;
class GifBuffer;

// Colour sentinels: no colour at all, and "the colour of the bitmap's bottom-left pixel".
inline constexpr TColor NoColor = 0x1FFFFFFF;
inline constexpr TColor DefaultColor = 0x20000000;

// Message texts of the GIF module (string resources 61092 to 61100).
inline constexpr std::string_view SUnknownVersion = "Unknown GIF version";                   // 61092
inline constexpr std::string_view SEncodingError = "GIF image encoding error";              // 61093
inline constexpr std::string_view SDataCorrupt = "GIF encoded data is corrupt";             // 61094
inline constexpr std::string_view SCodeSizeRange = "GIF code size not in range 2 to 9";     // 61095
inline constexpr std::string_view SWrongColorCount = "Wrong number of colors; must be a power of 2";  // 61096
inline constexpr std::string_view SUnknownExtension = "Unrecognized extension block: %.2x";  // 61097
inline constexpr std::string_view SNoGIFData = "No GIF Data to write";                      // 61098
inline constexpr std::string_view SCannotResize = "Cannot change the Size of a GIF image";  // 61099
inline constexpr std::string_view SGIFDescription = "CompuServe GIF Image";                 // 61100
// Our own: a frame whose pixel buffer would be larger than MaxPixelBytes. Quirk: such a frame is
// refused before anything is allocated, whatever its header claims; a picture may set a lower
// limit (GifOptions). Tests: Damage.PixelBuffersAboveOneGigabyteAreRefused,
// ReadOptions.APictureToleratesAndLimitsByItsOwnSettings.
inline constexpr std::string_view SImageTooLarge = "GIF image too large to decode (%d x %d pixels)";
inline constexpr std::int64_t MaxPixelBytes = std::int64_t{1} << 30;
// Our own: a GIF stream of more than MaxFrames images. Every frame read costs a few hundred bytes
// of memory, so the frames of a picture are bounded: 262,144 frames, more than an hour of
// animation at 50 frames a second, are read, and the next one fails the reading with this message.
// Quirk: a limit of our own. Test: ReadEntryPoints.AtMostMaxFramesAreRead.
inline constexpr std::string_view STooManyFrames = "GIF picture has too many frames (more than %d)";
inline constexpr int MaxFrames = 1 << 18;
// Our own: a frame of width or height 0 (its descriptor and the logical screen both say 0). Its
// bitmap file image holds no pixel rows, which no bitmap takes: building its bitmap, or writing
// it as a file, refuses it with this message. Quirk (a mended fault: the bitmap file made of it
// was one no reader takes). Test: BuildBitmap.FramesWithoutPixelsAreRefusedWithTheirSize.
inline constexpr std::string_view SImageEmpty = "GIF image has no pixels (%d x %d)";

// Module settings.
// Keep damaged images with what could be read and decoded (true), or fail on damage (false).
inline bool TolerateDamage = true;
// The colour-reduction method for bitmaps that are not in 1-, 4- or 8-bit palette form: the
// colour-reduction module's setting, which the encoding of frames reads.
using colour::DefaultReduction;
// The clipboard format registered for "GIF Image".
inline tk::TClipboardFormat GifClipboardFormat = 0;

// The settings of one picture: how its reading and decoding treat damage, the largest pixel
// buffer a frame may decode into, and how its frames of more than 256 colours are reduced. A
// setting left unset follows the module's (TolerateDamage, MaxPixelBytes, DefaultReduction) at
// the time it is used, so callers without options get those; callers such as the fuzzers and
// gifkit set theirs on the picture instead of changing the module's for everyone.
struct GifOptions {
  std::optional<bool> TolerateDamage;
  std::optional<std::int64_t> MaxPixelBytes;
  std::optional<colour::ReductionMethod> Reduction;

  bool Tolerates() const { return TolerateDamage.value_or(gif::TolerateDamage); }
  std::int64_t PixelByteLimit() const { return MaxPixelBytes.value_or(gif::MaxPixelBytes); }
  colour::ReductionMethod ReductionMethod() const { return Reduction.value_or(DefaultReduction); }
};

// A colour table as the GIF file holds it: Count entries of red, green, blue.
struct GifColorTable {
  struct Entry {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
  };
  // The 256 entries. A copy of a table shares them until one of the two is changed, so that the
  // frames of a picture that use its global table hold no copy of their own; a table that never
  // had entries holds none (they read as black).
  class EntryArray {
   public:
    static constexpr std::size_t size() { return 256; }
    const Entry& operator[](std::size_t i) const { return Get()[i]; }
    Entry& operator[](std::size_t i) { return Own()[i]; }
    const Entry* data() const { return Get().data(); }
    Entry* data() { return Own().data(); }
    const Entry* begin() const { return data(); }
    const Entry* end() const { return data() + size(); }

   private:
    using Array = std::array<Entry, 256>;
    const Array& Get() const {
      static const Array black{};
      return shared_ ? *shared_ : black;
    }
    Array& Own() {
      if (!shared_ || shared_.use_count() > 1) shared_ = std::make_shared<Array>(Get());
      return *shared_;
    }
    std::shared_ptr<Array> shared_;
  };

  std::int32_t Count = 0;  // 0..256; 0 = no table
  EntryArray Entries;

  // Entry i as a colour: red | green << 8 | blue << 16.
  TColor Color(int i) const {
    const Entry& e = Entries[static_cast<std::size_t>(i)];
    return e.Red | e.Green << 8 | static_cast<TColor>(e.Blue) << 16;
  }
  // Bits per pixel of the table: the smallest depth from 1 up whose power of two holds Count.
  std::uint8_t Depth() const {
    std::uint8_t depth = 1;
    while (depth < 8 && (1 << depth) < Count) ++depth;
    return depth;
  }
};

// Bits per pixel for a colour count of 2, 4, ... 256 (compared in its low 16 bits); any other
// count fails with "Wrong number of colors; must be a power of 2".
int DepthForCount(std::int32_t count);

// The first index of the table whose entry is the colour (system colours resolved, a
// palette-relative colour by its red, green and blue); -1 for NoColor or when none is.
int FindColorIndex(const GifColorTable& table, TColor color);

// Fills the table from 4-byte colour entries (blue, green, red, reserved): Count becomes
// min(count, 256); entries beyond the quads given are black.
void FillGifTable(GifColorTable& table, std::span<const std::uint8_t> quads, int count);

// Appends the LZW data of an image to the output: the code size byte, the codes in sub-blocks of
// 255 bytes (the last one shorter) and the terminator. The header gives width, height and bits
// per pixel (1, 4 or 8); the rows are those of a device-independent bitmap of that header, bottom
// row first. With interlaced set the rows are coded in the interlaced order. Progress goes to the
// graphic's progress event, when there is one. Fails with "GIF image encoding error" for another
// bit count, a negative size or rows shorter than the header says.
void EncodePixels(tk::TStream& output, const tk::BITMAPINFOHEADER& header, bool interlaced,
                  tk::TGraphic* progress, std::span<const std::uint8_t> rows);
// The same from the rows of a view (1, 4 or 8 bits per pixel).
void EncodePixels(tk::TStream& output, const tk::ConstPixelView& rows, bool interlaced,
                  tk::TGraphic* progress);

// Picture-level data shared by copies of a picture.
class TGIFData : public tk::TSharedImage {
 public:
  tk::TStringList CommentLines;  // the comment text after the last image, one string per line
  std::uint8_t AspectByte = 0;
  std::uint8_t GlobalDepth = 0;
  std::uint8_t ColorResolution = 0;
  GifColorTable GlobalTable;

 protected:
  void ReleaseContents() override { CommentLines.Clear(); }
};

// One frame's encoded image, shared by frames that are copies of one another.
class TGIFItem : public tk::TSharedImage {
 public:
  // The LZW data as it follows the image descriptor: code size byte, sub-blocks, terminator.
  std::unique_ptr<tk::TMemoryStream> PixelData;
  // Instead of PixelData (which is null then): where that data lies in the stream a picture was
  // read from with TGIFImage::ReadGIFStreamed.
  std::optional<StreamedData> Streamed;
  std::int32_t ItemWidth = 0;
  std::int32_t ItemHeight = 0;
  std::uint8_t DescFlags = 0;
  std::uint8_t BitDepth = 0;
  GifColorTable ColorTable;  // the local table, or a copy of the global one

  bool HasPixelData() const { return Streamed || (PixelData && PixelData->Size() > 0); }

 protected:
  void ReleaseContents() override {
    if (PixelData) PixelData->Clear();
    Streamed.reset();
  }
};

enum TExtensionKind : std::uint8_t {
  ekGraphicControl = 0,
  ekPlainText = 1,
  ekApplication = 2,
  ekComment = 3,
};
// The label byte of each kind.
inline constexpr std::array<std::uint8_t, 4> ExtensionLabels = {0xF9, 0x01, 0xFF, 0xFE};

// One extension block kept with a frame.
class TExtension : public tk::TPersistent {
 public:
  std::string_view ClassName() const override { return "TExtension"; }
  void TakeFrom(tk::TPersistent* source) override;

  // An application extension "NETSCAPE2.0" or "ANIMEXTS1.0" whose first sub-block is 1 and a
  // 16-bit loop count; LoopCount gives that count.
  bool IsLoopExtension() const;
  std::uint16_t LoopCount() const;

  // The graphic control fields of Header.
  std::uint8_t Packed() const { return Header[1]; }
  std::uint16_t Delay() const { return static_cast<std::uint16_t>(Header[2] | Header[3] << 8); }
  std::uint8_t TransparentIndex() const { return Header[4]; }

  TExtensionKind Kind = ekGraphicControl;
  std::unique_ptr<tk::TStringList> Lines;  // the data sub-blocks, one string each
  std::array<std::uint8_t, 15> Header{};   // the fixed first block, from its size byte on
};

using TExtensionList = tk::TObjectList<TExtension>;

class TGIFImage;

// One image of a picture.
class TGIFFrame : public tk::TPersistent {
 public:
  explicit TGIFFrame(TGIFImage* parent);
  ~TGIFFrame() override;

  std::string_view ClassName() const override { return "TGIFFrame"; }
  void GiveTo(tk::TPersistent* target) override;
  void TakeFrom(tk::TPersistent* source) override;

  // A fresh empty encoded item and default fields; BuiltBitmap and ExtBlocks stay.
  void ResetFrame();
  // Replaces BuiltBitmap by a new, empty bitmap.
  void NewBitmap();
  // BuiltBitmap, decoded from Encoded first when it is null or empty.
  tk::TBitmap* BuildBitmap();
  int FrameWidth();
  int FrameHeight();
  // The lines of the last comment extension; with create, one is made when there is none.
  tk::TStringList* FindComment(bool create);
  void SetComment(const tk::TStringList& lines);
  // Reads one image; the stream stands just behind its 0x2C introducer.
  void ReadImage(GifBuffer& data);
  // Fills the target with the frame's bitmap file image, positioned at 0.
  void DecodeToDIB(tk::TMemoryStream& target);
  // Writes the same bitmap file image to the stream from its position on (a file, which it
  // sizes first and writes every byte of), holding one row of pixels at a time instead of the
  // whole image; the stream is left behind the image.
  void WriteDIB(tk::TStream& target);
  // Tells whether the frame's data is damaged without decoding its pixels: sets DataDamaged as
  // DecodeToDIB would, and fails where it would, at a cost that follows the data's bytes.
  void CheckData();
  // The settings of the frame's picture (the module's without a picture).
  GifOptions Options() const;
  // The header of the frame's rows: its size at the row depth of BitDepth (1, 4 or 8). Fails
  // with "Wrong number of colors; must be a power of 2" for a BitDepth outside 1..8, and with
  // "GIF image too large to decode (%d x %d pixels)" above the picture's pixel byte limit.
  tk::BITMAPINFOHEADER RowHeader() const;
  // The colour table of the rows: 2^depth entries, those beyond the table's Count grey 0x80
  // with the given reserved byte.
  std::vector<tk::RGBQUAD> RowPalette(int depth, std::uint8_t fillerReserved) const;
  // Decodes the frame's pixels into zero-filled rows of the header's size and depth; damage
  // found sets DataDamaged.
  void DecodeRows(const tk::PixelView& rows, const RowDone& rowDone = {});
  // Draws the frame's bitmap stretched into the rectangle, keyed by TransColor when asked.
  void DrawFrame(tk::TCanvas& canvas, const tk::TRect& rect, bool transparent);
  // Encodes BuiltBitmap into the frame's encoded item (reduced to 8 bits first unless it has
  // 1, 4 or 8 bits); fails with "No GIF Data to write" without a bitmap.
  void EncodeBitmap();
  // Encodes a device-independent bitmap file of 1, 4 or 8 bits into the frame's encoded item
  // and updates the picture: its global table when it has none yet, its logical size.
  void EncodeFromDIB(tk::TMemoryStream& dib);
  // The same from rows of 1, 4 or 8 bits per pixel and their palette; fails with "GIF image
  // encoding error" for another depth or a side above 65535, leaving the frame as it was.
  void EncodeFromRows(const tk::ConstPixelView& rows);
  // Brings the graphic control extension in line with the delay, transparency and disposal of
  // the frame and drops empty comments.
  void SyncExtensions();

  TGIFImage* ParentImage;
  std::unique_ptr<tk::TBitmap> BuiltBitmap;
  tk::TSharedRef<TGIFItem> Encoded;
  std::unique_ptr<TExtensionList> ExtBlocks;
  std::int32_t LeftPos = 0;
  std::int32_t TopPos = 0;
  bool IsInterlaced = false;
  bool DataDamaged = false;
  bool GrayOnly = false;
  TColor TransColor = NoColor;
  std::uint16_t DelayMs = 0;
  std::uint8_t Disposal = 0;
  bool OwnColorTable = false;

 private:
  friend class TGIFImage;
  // Shares the source's encoded item and copies its fields and comment.
  void AssignFrame(TGIFFrame& source);
  void TakeFromGraphic(tk::TGraphic* source);
  void UpdateParentSize();
};

using TFrameList = tk::TObjectList<TGIFFrame>;

// A GIF picture.
class TGIFImage : public tk::TGraphic {
 public:
  TGIFImage();
  ~TGIFImage() override;

  std::string_view ClassName() const override { return "TGIFImage"; }

  // The slots of the graphic.
  void GiveTo(tk::TPersistent* target) override;
  void TakeFrom(tk::TPersistent* source) override;
  void DrawInRect(tk::TCanvas& canvas, const tk::TRect& rect) override;
  bool SameAs(tk::TGraphic* other) override;
  bool IsEmpty() override;
  int CurrentHeight() override;
  tk::HPALETTE CurrentPalette() override;
  bool IsTransparent() override;
  int CurrentWidth() override;
  void ReadStored(tk::TStream& stream) override;
  void ChangeHeight(int height) override;
  void ChangeWidth(int width) override;
  void WriteStored(tk::TStream& stream) override;
  void LoadStream(tk::TStream& stream) override;
  void SaveStream(tk::TStream& stream) override;
  void FromClipboard(tk::TClipboardFormat format, tk::THandle data, tk::HPALETTE palette) override;
  void ToClipboard(tk::TClipboardFormat& format, tk::THandle& data, tk::HPALETTE& palette) override;
  // Slot 24: adds a frame made from a graphic and returns its index.
  virtual int AppendFrame(tk::TGraphic* graphic);

  // New shared data, no frames, default settings; the logical size stays. Signals nothing.
  void Reset();
  void FreeFrames() { FrameList.Clear(); }
  int FrameCount() const { return FrameList.Count(); }
  TGIFFrame& FrameAt(int index) const { return FrameList[index]; }
  tk::TBitmap* CurrentBitmap();
  // The logical screen size as the union of the frames (decodes every frame not yet built).
  void UpdateLogicalSize();
  // Replaces the picture by the GIF held in the next byteCount bytes of the stream.
  void ReadGIF(std::int64_t byteCount, tk::TStream& stream, bool decodeFirst);
  // Replaces the picture by the GIF of the stream, from its position to its end, without holding
  // the file: the stream is read once through a window of 64 KiB, and the frames keep the place of
  // their LZW data in it (TGIFItem::Streamed) instead of the bytes, so that decoding a frame reads
  // its data from there. The picture and its copies share the stream, which must stay open and
  // unchanged while they decode; bytes found missing fail with EReadError "Stream read error"
  // (the reason names them), whatever else the file changed to costs no more than its size said.
  // For a program that reads a file to decode it (gifkit); a picture read any other way holds
  // its bytes.
  void ReadGIFStreamed(std::shared_ptr<tk::TStream> stream);
  // Writes the picture as a GIF stream, after its 32-bit length when withLength is set; the
  // target receives nothing when writing fails. Fails with "No GIF Data to write" without frames.
  void WriteGIF(tk::TStream& stream, bool withLength);
  // Encodes every frame that has no encoded data, then syncs every frame's extensions.
  void PrepareFrames();

  tk::TSharedRef<TGIFData> ScreenData;
  std::uint8_t GifVersion = 0;  // 0 none, 1 "87a", 2 "89a"
  TFrameList FrameList;
  std::int32_t CurrentIndex = -1;
  std::uint16_t LogicalWidth = 0;
  std::uint16_t LogicalHeight = 0;
  TColor BackdropColor = NoColor;
  bool LoopEnabled = false;
  std::uint16_t LoopCount = 1;
  // This picture's settings; copies of the picture take them along.
  GifOptions Options;

 private:
  // Reads the GIF of the buffer into the emptied picture.
  void ParseGIF(GifBuffer& data, bool decodeFirst);
  // Reads consecutive extensions while the block byte is 0x21; returns the kept ones (or null).
  std::unique_ptr<TExtensionList> ReadExtensionRun(GifBuffer& data, std::uint8_t& blockByte);
  void CopyPicture(const TGIFImage& source);
  void TakeFrame(TGIFFrame& source);
  // One frame per step of the animated cursor, with its display time.
  void TakeCursor(cursor::TAnimatedCursorImage& source);
};

// The module initialisation of the GIF picture: while at least one of these lives, the picture
// machinery knows the class TGIFImage for the file extension "gif" and the clipboard format
// "GIF Image", the class registry knows TGIFFrame and TGIFImage, and the screen has the drawing
// routines' two cursors, crGifHand and crGifDrag. The first one registers, the last one to go
// withdraws the picture formats.
class TGifModule {
 public:
  TGifModule();
  ~TGifModule();
  TGifModule(const TGifModule&) = delete;
  TGifModule& operator=(const TGifModule&) = delete;
};

// The cursor numbers of the drawing routines' hand and drag cursors.
inline constexpr int crGifHand = 14000;
inline constexpr int crGifDrag = 14001;

// The version texts, indexed by GifVersion.
inline constexpr std::array<std::string_view, 3> GifVersionTexts = {"", "87a", "89a"};

}  // namespace gif
