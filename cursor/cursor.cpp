#include "cursor/cursor.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

#include "colour/colour.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/core/bytes.h"
#include "toolkit/device/canvas.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/screen.h"

namespace cursor {

namespace {

void FailRead(std::string reason) { throw tk::EReadError(tk::Reason{std::move(reason)}); }

[[noreturn]] void ReadError(std::string reason) { FailRead(std::move(reason)); throw tk::EReadError(); }

// Four bytes of an identifier as text, those that are no letters as dots.
std::string Printable(const char* id) {
  std::string text(id, 4);
  for (char& c : text)
    if (c < 0x20 || c > 0x7E) c = '.';
  return text;
}

// Runs a chunk operation on the stream's bytes from its position; the stream goes on from where
// the operation left off.
template <class Operation>
bool OnStream(tk::TMemoryStream& stream, Operation operation) {
  tk::ByteReader data(stream.Bytes(), FailRead);
  data.Seek(static_cast<std::uint64_t>(stream.Position()));
  const bool done = operation(data);
  stream.SetPosition(static_cast<std::int64_t>(data.Position()));
  return done;
}

}  // namespace

// ---- RIFF chunks

bool ReadChunkHeader(tk::ByteReader& data, TChunkHeader& header) {
  std::uint8_t bytes[8];
  if (data.Read(bytes, sizeof bytes) != sizeof bytes) return false;
  std::memcpy(header.Id.data(), bytes, 4);
  header.Size = tk::LoadU32(bytes, 4);
  return true;
}

bool ReadChunkData(tk::ByteReader& data, const TChunkHeader& header, std::vector<std::uint8_t>& out) {
  if (data.Remaining() < header.Size) return false;
  out.resize(header.Size);
  data.Read(out.data(), out.size());
  data.Skip(header.Size % 2);
  return true;
}

bool ReadChunkPart(tk::ByteReader& data, const TChunkHeader& header, std::span<std::uint8_t> destination) {
  const std::size_t n = std::min<std::size_t>(header.Size, destination.size());
  if (data.Read(destination.data(), n) != n) return false;
  data.Skip(static_cast<std::uint64_t>(PadToEven(header.Size)) - n);
  return true;
}

bool SkipChunk(tk::ByteReader& data, const TChunkHeader& header) {
  data.Skip(static_cast<std::uint64_t>(PadToEven(header.Size)));
  return true;
}

bool ReadChunkHeader(tk::TMemoryStream& stream, TChunkHeader& header) {
  return OnStream(stream, [&](tk::ByteReader& data) { return ReadChunkHeader(data, header); });
}
bool ReadChunkData(tk::TMemoryStream& stream, const TChunkHeader& header, std::vector<std::uint8_t>& out) {
  return OnStream(stream, [&](tk::ByteReader& data) { return ReadChunkData(data, header, out); });
}
bool ReadChunkPart(tk::TMemoryStream& stream, const TChunkHeader& header, std::span<std::uint8_t> destination) {
  return OnStream(stream, [&](tk::ByteReader& data) { return ReadChunkPart(data, header, destination); });
}
bool SkipChunk(tk::TMemoryStream& stream, const TChunkHeader& header) {
  return OnStream(stream, [&](tk::ByteReader& data) { return SkipChunk(data, header); });
}

int ColorsFromBitCount(int bits) { return tk::ColorsOfDepth(bits); }

TAniHeader TAniHeader::FromBytes(std::span<const std::uint8_t, kSize> bytes) {
  std::int32_t v[9];
  for (std::size_t i = 0; i < 9; ++i) v[i] = static_cast<std::int32_t>(tk::LoadU32(bytes, 4 * i));
  return TAniHeader{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]};
}

// ---- Frames

void TIconFrame::TakeFrom(tk::TPersistent* source) {
  auto* other = dynamic_cast<TIconFrame*>(source);
  if (!other) {
    TPersistent::TakeFrom(source);
    return;
  }
  if (other == this) return;
  if (!Picture) Picture = std::make_unique<tk::TIcon>();
  Picture->TakeFrom(other->Picture.get());
  FromIconFile = other->FromIconFile;
  ChunkHead = other->ChunkHead;
  Hotspot = other->Hotspot;
  Rate = other->Rate;
  Sequence = other->Sequence;
}

// ---- Reading

// The state of one ReadCursor run.
struct TAnimatedCursorImage::Reading {
  // Frames a header may make: a frame keeps only a picture given to the icon number in its
  // Sequence, and with an icon number below the count of "icon" chunks (8 bytes each at least)
  // or a "seq " value (4 bytes each) there can be no more frames worth making than a quarter of
  // the bytes. Quirk: a header asking for more makes no more. Test:
  // Reading.DamagedFilesFailOrStopCleanly.
  std::int64_t frameLimit = 0;
  std::int64_t iconNumber = 0;
  // The frame that the next "rate" value and the next "seq " value go to.
  std::int64_t nextRate = 0;
  std::int64_t nextSequence = 0;
  std::int64_t pictureBytes = 0;
  // The frames by Sequence, then by index, so that each icon finds its frames at once.
  std::set<std::pair<std::int64_t, std::size_t>> bySequence;

  void Append(std::vector<std::unique_ptr<TIconFrame>>& frames, std::int32_t sequence, std::int32_t rate) {
    frames.push_back(std::make_unique<TIconFrame>(sequence, rate));
    bySequence.emplace(sequence, frames.size() - 1);
  }
  void SetSequence(TIconFrame& frame, std::size_t index, std::int32_t sequence) {
    bySequence.erase({frame.Sequence, index});
    frame.Sequence = sequence;
    bySequence.emplace(sequence, index);
  }
  void GivePicture(TIconFrame& frame, const TChunkHeader& chunk, std::unique_ptr<tk::TIcon> picture,
                   bool fromIconFile, tk::TPoint hotspot) {
    pictureBytes += std::int64_t{chunk.Size} + kPictureUpkeep;
    if (pictureBytes > kMaxPictureBytes)
      ReadError("the pictures would take more than " + std::to_string(kMaxPictureBytes) + " bytes");
    frame.Picture = std::move(picture);
    frame.FromIconFile = fromIconFile;
    frame.ChunkHead = chunk;
    frame.Hotspot = hotspot;
  }
};

void TAnimatedCursorImage::LoadStream(tk::TStream& stream) {
  const std::int64_t count = stream.Size() - stream.Position();
  if (count <= 0) return;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
  stream.ReadBuffer(bytes.data(), bytes.size());
  tk::TMemoryStream memory(std::move(bytes));
  ReadCursor(memory);
}

void TAnimatedCursorImage::SaveStream(tk::TStream&) { tk::NotImplementedAbort(); }

void TAnimatedCursorImage::ReadCursorFile(const std::string& fileName) {
  tk::TFileStream file(fileName, tk::FileMode::OpenRead);
  try {
    LoadStream(file);
  } catch (...) {
    ClearFrames();
    throw;
  }
}

void TAnimatedCursorImage::ReadCursor(tk::TMemoryStream& stream) {
  stream.SetPosition(0);
  tk::ByteReader data(stream.Bytes(), FailRead);
  TChunkHeader chunk;
  if (!ReadChunkHeader(data, chunk)) ReadError("the data ends inside the RIFF header");
  if (!chunk.Is("RIFF")) ReadError("the data begins with \"" + Printable(chunk.Id.data()) + "\", not \"RIFF\"");
  char form[4];
  if (data.Read(form, 4) != 4) ReadError("the data ends before the RIFF form");
  if (std::string_view(form, 4) != "ACON") ReadError("the RIFF form is \"" + Printable(form) + "\", not \"ACON\"");
  ClearFrames();

  Reading reading;
  reading.frameLimit = static_cast<std::int64_t>(data.Size() / 4);
  while (ReadChunkHeader(data, chunk)) {
    if (chunk.Is("anih")) {
      // Quirk: a longer record keeps its first 36 bytes; a shorter one leaves the rest zero.
      // Test: Reading.DamagedFilesFailOrStopCleanly.
      std::array<std::uint8_t, TAniHeader::kSize> bytes{};
      const bool complete = ReadChunkPart(data, chunk, bytes);
      header_ = TAniHeader::FromBytes(bytes);
      if (!complete) break;
      if ((header_.Flags & AF_ICON) == 0) ReadError("an \"anih\" header whose frames are not icons");
      if (header_.StepCount == 0) ReadError("an \"anih\" header of no steps");
      for (std::int32_t f = 0; f < header_.FrameCount && FrameCount() < reading.frameLimit; ++f)
        reading.Append(frames_, f, header_.DisplayRate);
    } else if (chunk.Is("rate") || chunk.Is("seq ")) {
      // Value i of the chunk goes to the i-th frame not yet given one of this kind.
      std::vector<std::uint8_t> values;
      if (!ReadChunkData(data, chunk, values)) break;
      const bool rate = chunk.Is("rate");
      std::int64_t& next = rate ? reading.nextRate : reading.nextSequence;
      for (std::size_t at = 0; at + 4 <= values.size(); at += 4, ++next) {
        if (next >= FrameCount()) continue;
        const auto value = static_cast<std::int32_t>(tk::LoadU32(values, at));
        const auto index = static_cast<std::size_t>(next);
        if (rate)
          frames_[index]->Rate = value;
        else
          reading.SetSequence(*frames_[index], index, value);
      }
    } else if (chunk.Is("LIST")) {
      std::int64_t remaining = PadToEven(chunk.Size);
      char type[4];
      if (data.Read(type, 4) != 4) break;
      remaining -= 4;
      const std::string_view listType(type, 4);
      if (listType == "fram")
        ReadFrameList(data, remaining, reading);
      else if (listType == "INFO")
        ReadInfoList(data, remaining);
      else if (static_cast<std::int64_t>(data.Position()) + remaining < 0)
        break;
      else
        data.Seek(static_cast<std::uint64_t>(static_cast<std::int64_t>(data.Position()) + remaining));
    } else if (!SkipChunk(data, chunk)) {
      break;
    }
  }

  std::erase_if(frames_, [](const std::unique_ptr<TIconFrame>& frame) { return !frame->Picture; });
  header_.StepCount = FrameCount();
  if (header_.StepCount == 0) ReadError("no frame with a picture");
}

// The sub-chunks of a "fram" list. A sub-chunk that cannot be read, or an "icon" that holds no
// icon, ends the list where it stands: what follows is read as top-level chunks.
void TAnimatedCursorImage::ReadFrameList(tk::ByteReader& data, std::int64_t remaining, Reading& reading) {
  TChunkHeader chunk;
  while (remaining >= 8) {
    if (!ReadChunkHeader(data, chunk)) return;
    remaining -= 8;
    if (chunk.Is("icon")) {
      bool fromIconFile = false;
      tk::TPoint hotspot;
      std::unique_ptr<tk::TIcon> icon = ReadIconChunk(data, chunk.Size, fromIconFile, hotspot);
      if (!icon) return;
      // Every frame showing this icon gets a picture of its own.
      std::vector<std::size_t> matches;
      for (auto it = reading.bySequence.lower_bound({reading.iconNumber, 0});
           it != reading.bySequence.end() && it->first == reading.iconNumber; ++it)
        matches.push_back(it->second);
      if (matches.empty()) {
        reading.Append(frames_, -1, header_.DisplayRate);
        matches.push_back(frames_.size() - 1);
      }
      for (std::size_t k = 0; k < matches.size(); ++k) {
        std::unique_ptr<tk::TIcon> picture;
        if (k + 1 < matches.size()) {
          picture = std::make_unique<tk::TIcon>();
          picture->TakeFrom(icon.get());
        } else {
          picture = std::move(icon);
        }
        reading.GivePicture(*frames_[matches[k]], chunk, std::move(picture), fromIconFile, hotspot);
      }
      ++reading.iconNumber;
    } else if (!SkipChunk(data, chunk)) {
      return;
    }
    remaining -= PadToEven(chunk.Size);
  }
}

void TAnimatedCursorImage::ReadInfoList(tk::ByteReader& data, std::int64_t remaining) {
  TChunkHeader chunk;
  while (remaining >= 8) {
    if (!ReadChunkHeader(data, chunk)) return;
    remaining -= 8;
    if (chunk.Is("INAM") || chunk.Is("IART")) {
      if (remaining < chunk.Size) return;
      std::array<char, 256>& text = chunk.Is("INAM") ? title_ : author_;
      text.fill(0);
      // At most 255 bytes, so that a terminating zero remains.
      if (!ReadChunkPart(data, chunk, std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size() - 1)))
        return;
    } else if (!SkipChunk(data, chunk)) {
      return;
    }
    remaining -= PadToEven(chunk.Size);
  }
}

std::unique_ptr<tk::TIcon> TAnimatedCursorImage::ReadIconChunk(tk::ByteReader& data, std::uint32_t size,
                                                               bool& fromIconFile, tk::TPoint& hotspot) {
  const std::span<const std::uint8_t> chunk = data.Take(size, "\"icon\" chunk");
  std::vector<std::uint8_t> file(chunk.begin(), chunk.end());
  data.Skip(size % 2);

  hotspot = tk::TPoint{};
  fromIconFile = file.size() >= 4 && tk::LoadU16(file, 2) == 1;
  if (file.size() < 4) return nullptr;
  const std::uint16_t type = tk::LoadU16(file, 2);
  if (type != 1 && type != 2) return nullptr;
  // A cursor file loads as an icon.
  file[2] = 1;
  file[3] = 0;

  // The directory entries that lie inside the file: their images' colour counts, where the
  // image's bit count lies inside both the image and the file, and the last entry's hotspot.
  const std::size_t count = file.size() >= 6 ? tk::LoadU16(file, 4) : 0;
  for (std::size_t i = 0; i < count && 6 + 16 * (i + 1) <= file.size(); ++i) {
    const std::size_t entry = 6 + 16 * i;
    const std::uint32_t imageSize = tk::LoadU32(file, entry + 8);
    const std::uint32_t offset = tk::LoadU32(file, entry + 12);
    if (imageSize >= 16 && offset <= file.size() && file.size() - offset >= 16)
      maxColors_ = std::max<std::uint16_t>(maxColors_, static_cast<std::uint16_t>(ColorsFromBitCount(tk::LoadU16(file, offset + 14))));
    hotspot = tk::TPoint{tk::LoadU16(file, entry + 4), tk::LoadU16(file, entry + 6)};
  }

  auto icon = std::make_unique<tk::TIcon>();
  try {
    tk::TMemoryStream iconStream(std::move(file));
    icon->LoadStream(iconStream);
  } catch (const tk::Exception&) {
    return nullptr;
  }
  if (fromIconFile) hotspot = tk::TPoint{icon->Width() / 2, icon->Height() / 2};
  return icon;
}

// ---- Copying

TAnimatedCursorImage::~TAnimatedCursorImage() { ClearFrames(); }

void TAnimatedCursorImage::ClearFrames() {
  frames_.clear();
  title_.fill(0);
  author_.fill(0);
  header_ = TAniHeader{};
  maxColors_ = 0;
}

TIconFrame& TAnimatedCursorImage::FrameAt(int index) const {
  if (index < 0 || index >= FrameCount()) throw tk::EListError(index);
  return *frames_[static_cast<std::size_t>(index)];
}

void TAnimatedCursorImage::TakeFrom(tk::TPersistent* source) {
  if (!source) {
    ClearFrames();
    return;
  }
  auto* other = dynamic_cast<TAnimatedCursorImage*>(source);
  if (!other) {
    TPersistent::TakeFrom(source);
    return;
  }
  if (other == this) return;
  ClearFrames();
  try {
    header_ = other->header_;
    title_ = other->title_;
    author_ = other->author_;
    maxColors_ = other->maxColors_;
    for (const auto& frame : other->frames_) {
      frames_.push_back(std::make_unique<TIconFrame>(-1, other->header_.DisplayRate));
      frames_.back()->TakeFrom(frame.get());
    }
  } catch (...) {
    ClearFrames();
    throw;
  }
}

void TAnimatedCursorImage::GiveTo(tk::TPersistent* target) {
  if (auto* icon = dynamic_cast<tk::TIcon*>(target)) {
    icon->TakeFrom(frames_.empty() ? nullptr : frames_.front()->Picture.get());
  } else if (auto* bitmap = dynamic_cast<tk::TBitmap*>(target)) {
    if (frames_.empty())
      bitmap->TakeFrom(nullptr);
    else
      DrawStrip(*bitmap, bitmap->Canvas().Brush().Color, true, false);
  } else if (auto* list = dynamic_cast<TIconList*>(target)) {
    list->BeginUpdate();
    try {
      list->Clear();
      for (const auto& frame : frames_) list->Add(frame->Picture.get());
    } catch (...) {
      list->EndUpdate();
      throw;
    }
    list->EndUpdate();
  } else {
    TPersistent::GiveTo(target);
  }
}

void TAnimatedCursorImage::DrawStrip(tk::TBitmap& bitmap, tk::TColor background, bool reduce, bool vertical) {
  tk::TBitmap strip;
  strip.SetMonochrome(false);
  strip.Canvas().Brush().Color = background;
  if (!frames_.empty()) {
    tk::TIcon* first = frames_.front()->Picture.get();
    const std::int64_t count = FrameCount();
    const std::int64_t width = (first ? first->CurrentWidth() : 0) * (vertical ? 1 : count);
    const std::int64_t height = (first ? first->CurrentHeight() : 0) * (vertical ? count : 1);
    if (width > std::numeric_limits<int>::max() || height > std::numeric_limits<int>::max())
      throw tk::EOutOfResources(std::string(tk::SOutOfResources));
    strip.SetWidth(static_cast<int>(width));
    strip.SetHeight(static_cast<int>(height));
    strip.Canvas().FillRect(tk::TRect{0, 0, static_cast<int>(width), static_cast<int>(height)});
    for (std::int64_t i = 0; i < count; ++i) {
      tk::TIcon* picture = frames_[static_cast<std::size_t>(i)]->Picture.get();
      if (!picture) continue;
      // Pictures of another size than frame 0's may fall partly or wholly outside.
      const std::int64_t at = i * (vertical ? picture->Height() : picture->Width());
      if (at >= (vertical ? height : width)) continue;
      strip.Canvas().Draw(vertical ? 0 : static_cast<int>(at), vertical ? static_cast<int>(at) : 0, picture);
    }
    if (reduce) {
      std::unique_ptr<tk::TMemoryStream> reduced = colour::BitmapToColors(strip, std::max<int>(maxColors_, 16));
      strip.LoadStream(*reduced);
    }
  }
  bitmap.TakeFrom(&strip);
}

}  // namespace cursor
