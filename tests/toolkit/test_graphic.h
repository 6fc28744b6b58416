// A small graphic for the picture machinery's tests: its content is a text. Stored form: a
// 32-bit length and the text. Clipboard form: a global block under the format "Test Graphic"
// holding the text, and a fake palette handle when the text asks for one.
#pragma once

#include <cstring>
#include <string>

#include "toolkit/system/clipboard.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/graphic.h"
#include "toolkit/core/streams.h"

namespace testgraphic {

inline tk::TClipboardFormat Format() { return tk::RegisterClipboardFormatA("Test Graphic"); }

class TTestGraphic : public tk::TGraphic {
 public:
  std::string text;
  // Makes ToClipboard fail after it filled its outputs.
  bool failInToClipboard = false;

  std::string_view ClassName() const override { return "TTestGraphic"; }
  void TakeFrom(tk::TPersistent* source) override {
    if (auto* other = dynamic_cast<TTestGraphic*>(source)) {
      text = other->text;
      Changed();
      return;
    }
    tk::TGraphic::TakeFrom(source);
  }
  void DrawInRect(tk::TCanvas&, const tk::TRect&) override {}
  bool IsEmpty() override { return text.empty(); }
  int CurrentWidth() override { return static_cast<int>(text.size()); }
  int CurrentHeight() override { return 1; }
  void ChangeWidth(int) override {}
  void ChangeHeight(int) override {}
  void LoadStream(tk::TStream& s) override {
    text.assign(static_cast<std::size_t>(s.Remaining()), '\0');
    s.ReadBuffer(text.data(), text.size());
    Progress(this, tk::TProgressStage::Ending, 100, false, {}, "loaded");
    Changed();
  }
  void SaveStream(tk::TStream& s) override { s.WriteBuffer(text.data(), text.size()); }
  void ReadStored(tk::TStream& s) override {
    text.assign(s.ReadU32(), '\0');
    s.ReadBuffer(text.data(), text.size());
  }
  void WriteStored(tk::TStream& s) override {
    s.WriteU32(static_cast<std::uint32_t>(text.size()));
    SaveStream(s);
  }
  void FromClipboard(tk::TClipboardFormat format, tk::THandle data, tk::HPALETTE) override {
    if (format != Format() || data == 0) throw tk::EInvalidGraphic(std::string(tk::SUnknownClipboardFormat));
    tk::TGlobalLock lock(reinterpret_cast<tk::HGLOBAL>(data));
    text.assign(reinterpret_cast<const char*>(lock.Data()), lock.Size());
  }
  void ToClipboard(tk::TClipboardFormat& format, tk::THandle& data, tk::HPALETTE& palette) override {
    tk::TGlobalMemory block(text.size());
    {
      tk::TGlobalLock lock(block.Handle());
      std::memcpy(lock.Data(), text.data(), text.size());
    }
    format = Format();
    data = reinterpret_cast<tk::THandle>(block.Release());
    if (text.find("palette") != std::string::npos) palette = reinterpret_cast<tk::HPALETTE>(0x9);
    if (failInToClipboard) throw tk::EInvalidGraphicOperation("GIF image encoding error");
  }
};

}  // namespace testgraphic
