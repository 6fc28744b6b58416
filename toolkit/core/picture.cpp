#include "toolkit/core/picture.h"

#include <algorithm>
#include <map>

#include "toolkit/core/exceptions.h"
#include "toolkit/core/streams.h"

namespace tk {

namespace {

std::vector<TClassRef>& Classes() {
  static std::vector<TClassRef> classes;
  return classes;
}

std::vector<TFileFormat>& FileFormatList() {
  static std::vector<TFileFormat> formats;
  return formats;
}

std::map<TClipboardFormat, TClassRef>& ClipboardFormats() {
  static std::map<TClipboardFormat, TClassRef> formats;
  return formats;
}

std::string Extension(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  return LowerCase(extension);
}

// A new graphic of a class: made by the class's factory, which must give a graphic.
std::unique_ptr<TGraphic> NewGraphic(const TClassRef& graphicClass) {
  if (!graphicClass.Create) throw EClassNotFound(Format(SClassNotFound, {graphicClass.Name}));
  std::unique_ptr<TPersistent> object = graphicClass.Create();
  auto* graphic = dynamic_cast<TGraphic*>(object.get());
  if (!graphic) throw EInvalidGraphic("Class " + graphicClass.Name + " is not a graphic class");
  object.release();
  return std::unique_ptr<TGraphic>(graphic);
}

// The class to copy a graphic of that class name with: the class registry first, then the
// classes of the registered file and clipboard formats.
const TClassRef& GraphicClassNamed(std::string_view name) {
  if (const TClassRef* c = FindClass(name)) return *c;
  for (const TFileFormat& f : FileFormatList())
    if (SameText(f.GraphicClass.Name, name)) return f.GraphicClass;
  for (const auto& [format, c] : ClipboardFormats())
    if (SameText(c.Name, name)) return c;
  throw EClassNotFound(Format(SClassNotFound, {name}));
}

}  // namespace

// ---- Class registry

void RegisterClass(TClassRef classRef) {
  for (TClassRef& c : Classes()) {
    if (SameText(c.Name, classRef.Name)) {
      c = std::move(classRef);
      return;
    }
  }
  Classes().push_back(std::move(classRef));
}

void UnregisterClass(std::string_view name) {
  std::erase_if(Classes(), [&](const TClassRef& c) { return SameText(c.Name, name); });
}

const TClassRef* FindClass(std::string_view name) {
  for (const TClassRef& c : Classes())
    if (SameText(c.Name, name)) return &c;
  return nullptr;
}

std::unique_ptr<TPersistent> CreateObject(std::string_view name) {
  const TClassRef* c = FindClass(name);
  if (!c || !c->Create) throw EClassNotFound(Format(SClassNotFound, {name}));
  return c->Create();
}

// ---- Format registries

void TPicture::RegisterFileFormat(std::string_view extension, std::string_view description,
                                  TClassRef graphicClass) {
  TFileFormat format{Extension(extension), std::string(description), std::move(graphicClass)};
  for (TFileFormat& f : FileFormatList()) {
    if (f.Extension == format.Extension) {
      f = std::move(format);
      return;
    }
  }
  FileFormatList().push_back(std::move(format));
}

void TPicture::RegisterClipboardFormat(TClipboardFormat format, TClassRef graphicClass) {
  ClipboardFormats().insert_or_assign(format, std::move(graphicClass));
}

void TPicture::UnregisterGraphicClass(std::string_view className) {
  std::erase_if(FileFormatList(), [&](const TFileFormat& f) { return SameText(f.GraphicClass.Name, className); });
  std::erase_if(ClipboardFormats(), [&](const auto& entry) { return SameText(entry.second.Name, className); });
}

const TFileFormat* TPicture::FindFileFormat(std::string_view extension) {
  const std::string wanted = Extension(extension);
  for (const TFileFormat& f : FileFormatList())
    if (f.Extension == wanted) return &f;
  return nullptr;
}

const std::vector<TFileFormat>& TPicture::FileFormats() { return FileFormatList(); }

bool TPicture::SupportsClipboardFormat(TClipboardFormat format) {
  return ClipboardFormats().count(format) != 0;
}

// ---- TPicture

TPicture::~TPicture() {
  if (graphic_) {
    graphic_->OnChange = nullptr;
    graphic_->OnProgress = nullptr;
  }
}

void TPicture::Install(std::unique_ptr<TGraphic> graphic) {
  if (graphic_) {
    graphic_->OnChange = nullptr;
    graphic_->OnProgress = nullptr;
  }
  graphic_ = std::move(graphic);
  if (graphic_) {
    graphic_->OnChange = [this](TGraphic*) { Changed(); };
    graphic_->OnProgress = ForwardProgress();
  }
}

TProgressEvent TPicture::ForwardProgress() {
  return [this](TPersistent* sender, TProgressStage stage, int percent, bool redraw, const TRect& r,
                const std::string& msg) {
    if (OnProgress) OnProgress(sender, stage, percent, redraw, r, msg);
  };
}

void TPicture::Changed() {
  if (OnChange) OnChange(this);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  Install(std::move(graphic));
  Changed();
}

int TPicture::Width() const { return graphic_ ? graphic_->Width() : 0; }

int TPicture::Height() const { return graphic_ ? graphic_->Height() : 0; }

void TPicture::LoadFromFile(const std::string& fileName) {
  const auto slash = fileName.rfind('/');
  const auto dot = fileName.rfind('.');
  const std::string extension =
      dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : fileName.substr(dot + 1);
  const TFileFormat* format = FindFileFormat(extension);
  if (!format) throw EInvalidGraphic(Format(SUnknownExtension, {extension}));
  std::unique_ptr<TGraphic> graphic = NewGraphic(format->GraphicClass);
  graphic->OnProgress = ForwardProgress();
  graphic->LoadFromFile(fileName);
  SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& fileName) {
  if (graphic_) graphic_->SaveToFile(fileName);
}

void TPicture::LoadFromClipboardFormat(TClipboardFormat format, THandle data, HPALETTE palette) {
  auto entry = ClipboardFormats().find(format);
  if (entry == ClipboardFormats().end()) throw EInvalidGraphic(std::string(SUnknownClipboardFormat));
  std::unique_ptr<TGraphic> graphic = NewGraphic(entry->second);
  graphic->FromClipboard(format, data, palette);
  SetGraphic(std::move(graphic));
}

void TPicture::SaveToClipboardFormat(TClipboardFormat& format, THandle& data, HPALETTE& palette) {
  if (graphic_) graphic_->ToClipboard(format, data, palette);
}

void TPicture::ReadStoredValue(TStream& stream) {
  const std::uint8_t length = stream.ReadU8();
  std::string name(length, '\0');
  stream.ReadBuffer(name.data(), name.size());
  if (name.empty()) {
    SetGraphic(nullptr);
    return;
  }
  const TClassRef* graphicClass = FindClass(name);
  if (!graphicClass) throw EClassNotFound(Format(SClassNotFound, {name}));
  std::unique_ptr<TGraphic> graphic = NewGraphic(*graphicClass);
  graphic->ReadStored(stream);
  SetGraphic(std::move(graphic));
}

void TPicture::WriteStoredValue(TStream& stream) {
  const std::string_view name = graphic_ ? graphic_->ClassName() : std::string_view();
  if (name.size() > 255) throw EWriteError("Class name too long to store: " + std::string(name));
  stream.WriteU8(static_cast<std::uint8_t>(name.size()));
  stream.WriteBuffer(name.data(), name.size());
  if (graphic_) graphic_->WriteStored(stream);
}

void TPicture::TakeFrom(TPersistent* source) {
  if (!source) {
    SetGraphic(nullptr);
    return;
  }
  TGraphic* graphic = dynamic_cast<TGraphic*>(source);
  if (auto* picture = dynamic_cast<TPicture*>(source)) {
    if (picture == this) return;
    graphic = picture->Graphic();
    if (!graphic) {
      SetGraphic(nullptr);
      return;
    }
  }
  if (!graphic) {
    TPersistent::TakeFrom(source);
    return;
  }
  std::unique_ptr<TGraphic> copy = NewGraphic(GraphicClassNamed(graphic->ClassName()));
  copy->TakeFrom(graphic);
  SetGraphic(std::move(copy));
}

}  // namespace tk
