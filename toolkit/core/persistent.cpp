#include "toolkit/core/persistent.h"

#include "toolkit/core/exceptions.h"

namespace tk {

void TPersistent::GiveTo(TPersistent* target) {
  if (target) target->AssignError(this);
  AssignError(nullptr);
}

void TPersistent::TakeFrom(TPersistent* source) {
  if (source) {
    source->GiveTo(this);
    return;
  }
  AssignError(nullptr);
}

void TPersistent::AssignError(const TPersistent* source) const {
  std::string_view sourceName = source ? source->ClassName() : std::string_view("nil");
  throw EConvertError(Format(SAssignError, {sourceName, ClassName()}));
}

void TSharedImage::DropReference(TSharedImage* holder) {
  if (!holder) return;
  if (--holder->refCount_ == 0) {
    holder->ReleaseContents();
    delete holder;
  }
}

}  // namespace tk
