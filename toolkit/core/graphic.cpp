#include "toolkit/core/graphic.h"

#include <algorithm>

#include "toolkit/core/streams.h"

namespace tk {

void TGraphic::Changed() {
  modified_ = true;
  if (OnChange) OnChange(this);
}

bool TGraphic::SameAs(TGraphic* other) {
  if (!other) return false;
  if (other == this) return true;
  if (ClassName() != other->ClassName()) return false;
  bool empty = IsEmpty();
  if (empty != other->IsEmpty()) return false;
  if (empty) return true;
  TMemoryStream mine;
  TMemoryStream theirs;
  SaveStream(mine);
  other->SaveStream(theirs);
  return mine.Size() == theirs.Size() &&
         std::equal(mine.Bytes().begin(), mine.Bytes().end(), theirs.Bytes().begin());
}

void TGraphic::ReadStored(TStream& stream) { LoadStream(stream); }

void TGraphic::WriteStored(TStream& stream) { SaveStream(stream); }

void TGraphic::SetTransparent(bool value) {
  if (value != transparent_) {
    transparent_ = value;
    Changed();
  }
}

void TGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, FileMode::OpenRead);
  LoadStream(file);
}

void TGraphic::SaveToFile(const std::string& fileName) {
  TAtomicFileStream file(fileName);
  SaveStream(file);
  file.Commit();
}

void TGraphic::SetModified(bool value) {
  if (value) Changed();
  else modified_ = false;
}

void TGraphic::Progress(TPersistent* sender, TProgressStage stage, int percentDone, bool redrawNow,
                        const TRect& r, const std::string& msg) {
  if (OnProgress) OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}

}  // namespace tk
