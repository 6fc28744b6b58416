// Lists: a string list of arbitrary byte strings and an owning object list. A bad index fails
// with EListError "List index out of bounds (%d)".
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/core/exceptions.h"

namespace tk {

class TStringList {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> items) : items_(items) {}

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  // Appends a string (any bytes, zero bytes included) and returns its index.
  int Add(std::string text) {
    items_.push_back(std::move(text));
    return Count() - 1;
  }
  const std::string& operator[](int index) const { return items_[Check(index)]; }
  std::string& operator[](int index) { return items_[Check(index)]; }
  void Delete(int index) { items_.erase(items_.begin() + Check(index)); }
  void Clear() { items_.clear(); }
  // Replaces the content by a copy of the other list.
  void Assign(const TStringList& other) { items_ = other.items_; }
  bool operator==(const TStringList&) const = default;

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::size_t Check(int index) const {
    if (index < 0 || index >= Count()) throw EListError(index);
    return static_cast<std::size_t>(index);
  }
  std::vector<std::string> items_;
};

// A list that owns its entries: removing an entry frees it, unless it is extracted.
template <class T>
class TObjectList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  T& operator[](int index) const { return *items_[Check(index)]; }
  T* At(int index) const { return items_[Check(index)].get(); }
  T* First() const { return At(0); }
  T* Last() const { return At(Count() - 1); }
  int Add(std::unique_ptr<T> item) {
    items_.push_back(std::move(item));
    return Count() - 1;
  }
  void Insert(int index, std::unique_ptr<T> item) {
    if (index < 0 || index > Count()) throw EListError(index);
    items_.insert(items_.begin() + index, std::move(item));
  }
  // Frees the entry and removes it from the list.
  void Delete(int index) { items_.erase(items_.begin() + Check(index)); }
  // Removes the entry without freeing it.
  std::unique_ptr<T> Extract(int index) {
    std::unique_ptr<T> item = std::move(items_[Check(index)]);
    items_.erase(items_.begin() + index);
    return item;
  }
  int IndexOf(const T* item) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i].get() == item) return static_cast<int>(i);
    return -1;
  }
  // Frees the entries from the first to the last.
  void Clear() {
    std::vector<std::unique_ptr<T>> items = std::move(items_);
    items_.clear();
    for (auto& item : items) item.reset();
  }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::size_t Check(int index) const {
    if (index < 0 || index >= Count()) throw EListError(index);
    return static_cast<std::size_t>(index);
  }
  std::vector<std::unique_ptr<T>> items_;
};

}  // namespace tk
