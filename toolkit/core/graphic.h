// The abstract graphic: the base of bitmaps, icons and GIF pictures. Its virtual operations are
// declared in the slot order that the picture machinery relies on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "toolkit/core/handles.h"
#include "toolkit/core/persistent.h"

namespace tk {

class TStream;
class TCanvas;

enum class TProgressStage : std::uint8_t { Starting = 0, Running = 1, Ending = 2 };

// The picture progress event: sender, stage, percent done, redraw flag, rectangle, message.
using TProgressEvent = std::function<void(TPersistent* Sender, TProgressStage Stage, int PercentDone,
                                          bool RedrawNow, const TRect& R, const std::string& Msg)>;

class TGraphic : public TPersistent {
 public:
  TGraphic() = default;

  // Slots 0 to 2 (GiveTo, DefineProperties, TakeFrom) come from TPersistent; slot 3 is the
  // constructor.

  // Slot 4: sets the modified flag and calls the change handler.
  virtual void Changed();
  // Slot 5: draws the graphic into a rectangle of a canvas.
  virtual void DrawInRect(TCanvas& canvas, const TRect& rect) = 0;
  // Slot 6: whether the other graphic has the same content. By default: the same class and
  // byte-equal saved streams (or both empty).
  virtual bool SameAs(TGraphic* other);
  // Slot 7.
  virtual bool IsEmpty() = 0;
  // Slot 8.
  virtual int CurrentHeight() = 0;
  // Slot 9: the palette, or null.
  virtual HPALETTE CurrentPalette() { return nullptr; }
  // Slot 10: the transparent flag.
  virtual bool IsTransparent() { return transparent_; }
  // Slot 11.
  virtual int CurrentWidth() = 0;
  // Slot 12: reads the graphic's stored form from a form description; by default LoadStream.
  virtual void ReadStored(TStream& stream);
  // Slot 13.
  virtual void ChangeHeight(int height) = 0;
  // Slot 14: sets the palette; does nothing by default.
  virtual void SetPalette(HPALETTE) {}
  // Slot 15: stores the transparent flag and signals a change when it differs.
  virtual void SetTransparent(bool value);
  // Slot 16.
  virtual void ChangeWidth(int width) = 0;
  // Slot 17: writes the graphic's stored form; by default SaveStream.
  virtual void WriteStored(TStream& stream);
  // Slot 18: opens the file as a stream and calls LoadStream.
  virtual void LoadFromFile(const std::string& fileName);
  // Slot 19: creates the file and calls SaveStream. The file is written whole or not at all: a
  // failure leaves the file as it was (TAtomicFileStream).
  virtual void SaveToFile(const std::string& fileName);
  // Slot 20.
  virtual void LoadStream(TStream& stream) = 0;
  // Slot 21.
  virtual void SaveStream(TStream& stream) = 0;
  // Slot 22: replaces the content by clipboard data of the given format.
  virtual void FromClipboard(TClipboardFormat format, THandle data, HPALETTE palette) = 0;
  // Slot 23: fills the three outputs with the graphic's clipboard form.
  virtual void ToClipboard(TClipboardFormat& format, THandle& data, HPALETTE& palette) = 0;

  int Width() { return CurrentWidth(); }
  int Height() { return CurrentHeight(); }
  void SetWidth(int width) { ChangeWidth(width); }
  void SetHeight(int height) { ChangeHeight(height); }
  bool Transparent() const { return transparent_; }

  bool Modified() const { return modified_; }
  void SetModified(bool value);
  bool PaletteModified() const { return paletteModified_; }
  void SetPaletteModified(bool value) { paletteModified_ = value; }

  std::function<void(TGraphic*)> OnChange;
  TProgressEvent OnProgress;

  // Raises the progress event, when one is set, with this graphic as sender.
  void Progress(TPersistent* sender, TProgressStage stage, int percentDone, bool redrawNow,
                const TRect& r, const std::string& msg);

 protected:
  // Sets the flag without signalling (constructors).
  void InitTransparent(bool value) { transparent_ = value; }

 private:
  bool modified_ = false;
  bool transparent_ = false;
  bool paletteModified_ = false;
};

}  // namespace tk
