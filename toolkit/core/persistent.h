// Persistent objects that take their content from each other, and the reference-counted holder
// that copies of a graphic share.
#pragma once

#include <string_view>
#include <utility>

namespace tk {

// An object whose content can be assigned from another object. TakeFrom asks the target to take
// the source; a class that does not know the source asks the source to hand itself over with
// GiveTo, and the last resort fails with EConvertError "Cannot assign a %s to a %s" (the source's
// class name, or "nil", then the target's).
class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;

  virtual std::string_view ClassName() const = 0;

  // Slot 0: hand this object's content to the target.
  virtual void GiveTo(TPersistent* target);
  // Slot 1: the property-streaming hook; nothing to define by default.
  virtual void DefineProperties() {}
  // Slot 2: take the content of the source.
  virtual void TakeFrom(TPersistent* source);

 protected:
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

// A holder shared by copies of a graphic, with a plain (not atomic) reference count. It is
// freed, after ReleaseContents, when its last reference is dropped.
class TSharedImage {
 public:
  TSharedImage() = default;
  TSharedImage(const TSharedImage&) = delete;
  TSharedImage& operator=(const TSharedImage&) = delete;
  virtual ~TSharedImage() = default;

  int RefCount() const { return refCount_; }
  void AddReference() { ++refCount_; }
  // Null-safe: drops one reference and frees the holder with the last one.
  static void DropReference(TSharedImage* holder);

 protected:
  // Slot 0: empties the holder before it is freed.
  virtual void ReleaseContents() = 0;

 private:
  int refCount_ = 0;
};

// Holds one reference to a shared holder, dropped when it goes or is replaced.
template <class T>
class TSharedRef {
 public:
  TSharedRef() = default;
  // Takes a new reference to the holder (which may be null).
  explicit TSharedRef(T* holder) : holder_(holder) {
    if (holder_) holder_->AddReference();
  }
  TSharedRef(const TSharedRef& other) : TSharedRef(other.holder_) {}
  TSharedRef(TSharedRef&& other) noexcept : holder_(std::exchange(other.holder_, nullptr)) {}
  TSharedRef& operator=(TSharedRef other) noexcept {
    std::swap(holder_, other.holder_);
    return *this;
  }
  ~TSharedRef() { TSharedImage::DropReference(holder_); }

  T* get() const { return holder_; }
  T* operator->() const { return holder_; }
  T& operator*() const { return *holder_; }
  explicit operator bool() const { return holder_ != nullptr; }
  void reset() { *this = TSharedRef(); }

 private:
  T* holder_ = nullptr;
};

// A new holder with one reference held by the result.
template <class T, class... Args>
TSharedRef<T> MakeShared(Args&&... args) {
  return TSharedRef<T>(new T(std::forward<Args>(args)...));
}

}  // namespace tk
