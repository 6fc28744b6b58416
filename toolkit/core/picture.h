// The picture machinery: the class registry (streamable classes by name), the registries of
// picture file formats (by extension) and clipboard formats (by number), and TPicture, the
// container that holds one graphic and creates it of the right class from a file, the clipboard
// or a stored picture value.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "toolkit/core/graphic.h"
#include "toolkit/core/handles.h"

namespace tk {

class TStream;

// A class as a value: its name and how to make an object of it. Classes whose objects are made
// only by their owners (a frame by its picture) have no factory.
struct TClassRef {
  std::string Name;
  std::function<std::unique_ptr<TPersistent>()> Create;
};

template <class T>
TClassRef ClassOf(std::string_view name) {
  TClassRef ref{std::string(name), nullptr};
  if constexpr (std::is_default_constructible_v<T>)
    ref.Create = [] { return std::unique_ptr<TPersistent>(std::make_unique<T>()); };
  return ref;
}

// ---- The class registry. Names are compared without regard to the case of a-z.

// Registers a class; a class of the same name is replaced.
void RegisterClass(TClassRef classRef);
void UnregisterClass(std::string_view name);
// The registered class of that name, or null.
const TClassRef* FindClass(std::string_view name);
// A new object of the registered class; fails with EClassNotFound "Class %s not found" when the
// name is not registered or the class has no factory.
std::unique_ptr<TPersistent> CreateObject(std::string_view name);

// A registered picture file format.
struct TFileFormat {
  std::string Extension;  // lower-case, without the dot
  std::string Description;
  TClassRef GraphicClass;
};

// Holds one graphic (or none). The graphic's change and progress events are forwarded to the
// picture's own.
class TPicture : public TPersistent {
 public:
  TPicture() = default;
  ~TPicture() override;
  std::string_view ClassName() const override { return "TPicture"; }

  // ---- Registries (the picture machinery of the whole program)

  // Registers a file extension (without the dot, any case) for a graphic class; a later
  // registration of the same extension replaces the earlier one.
  static void RegisterFileFormat(std::string_view extension, std::string_view description,
                                 TClassRef graphicClass);
  static void RegisterClipboardFormat(TClipboardFormat format, TClassRef graphicClass);
  // Removes every file format and clipboard format of the class.
  static void UnregisterGraphicClass(std::string_view className);
  static const TFileFormat* FindFileFormat(std::string_view extension);
  static const std::vector<TFileFormat>& FileFormats();
  static bool SupportsClipboardFormat(TClipboardFormat format);

  // ---- The graphic

  TGraphic* Graphic() const { return graphic_.get(); }
  // Takes the graphic (null: none) and signals a change.
  void SetGraphic(std::unique_ptr<TGraphic> graphic);
  int Width() const;
  int Height() const;

  // Makes a graphic of the class registered for the file's extension and loads the file into
  // it; an unknown extension fails with EInvalidGraphic "Unknown picture file extension (.%s)".
  // On failure the picture keeps its graphic.
  void LoadFromFile(const std::string& fileName);
  // Saves the graphic (nothing when there is none).
  void SaveToFile(const std::string& fileName);
  // Makes a graphic of the class registered for the format and lets it take the data; with no
  // class registered fails with EInvalidGraphic "Unsupported clipboard format".
  void LoadFromClipboardFormat(TClipboardFormat format, THandle data, HPALETTE palette);
  // The graphic's clipboard form (the outputs are left alone when there is no graphic).
  void SaveToClipboardFormat(TClipboardFormat& format, THandle& data, HPALETTE& palette);

  // The stored form of a picture value: a length byte and the class name (length 0: no
  // graphic), then the graphic's own ReadStored / WriteStored data. Reading finds the class by
  // name in the class registry: an unknown class fails with EClassNotFound "Class %s not found",
  // a class that is not a graphic with EInvalidGraphic.
  void ReadStoredValue(TStream& stream);
  void WriteStoredValue(TStream& stream);

  // Takes a picture's or a graphic's content (a copy of the graphic, made through the class
  // registry), or none for null; other sources are asked to hand themselves over.
  void TakeFrom(TPersistent* source) override;

  std::function<void(TPicture*)> OnChange;
  TProgressEvent OnProgress;

 protected:
  virtual void Changed();

 private:
  // Installs a graphic without signalling: hooks its events to this picture.
  void Install(std::unique_ptr<TGraphic> graphic);
  // A progress handler for a graphic that passes its reports on to OnProgress.
  TProgressEvent ForwardProgress();

  std::unique_ptr<TGraphic> graphic_;
};

}  // namespace tk
