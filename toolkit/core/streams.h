// Byte streams: the abstract stream, a growable memory stream, a read-only view over fixed bytes
// (the form of resource data) and a file stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "toolkit/core/exceptions.h"

namespace tk {

enum class SeekOrigin { Beginning, Current, End };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  virtual std::int64_t Size() const = 0;
  // Moves the position and returns the new one; -1 when the stream refuses the move (a position
  // before the start). A position beyond the end is allowed: reads there give nothing.
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  // Plain read: reads up to count bytes and returns how many it read (0 at the end).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Writes up to count bytes and returns how many it wrote.
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  // Grows or truncates the stream; streams that cannot fail with EStreamError.
  virtual void SetSize(std::int64_t size);

  std::int64_t Position() const { return const_cast<TStream*>(this)->Seek(0, SeekOrigin::Current); }
  void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Beginning); }
  std::int64_t Remaining() const;

  // Exact read: fails with EReadError "Stream read error" when fewer bytes are available.
  void ReadBuffer(void* buffer, std::size_t count);
  // Exact write: fails with EWriteError "Stream write error".
  void WriteBuffer(const void* buffer, std::size_t count);
  void WriteBuffer(std::span<const std::uint8_t> bytes) { WriteBuffer(bytes.data(), bytes.size()); }

  // Copies count bytes from the source's position (count 0: the whole source from its start).
  // Returns the number of bytes copied; fails with EReadError if the source runs short or the
  // count is negative.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);

  // Little-endian helpers built on the exact read and write.
  std::uint8_t ReadU8();
  std::uint16_t ReadU16();
  std::uint32_t ReadU32();
  std::int32_t ReadI32() { return static_cast<std::int32_t>(ReadU32()); }
  void WriteU8(std::uint8_t v) { WriteBuffer(&v, 1); }
  void WriteU16(std::uint16_t v);
  void WriteU32(std::uint32_t v);
  void WriteI32(std::int32_t v) { WriteU32(static_cast<std::uint32_t>(v)); }
};

// A stream over memory that it owns and grows as it is written. It may also begin as a view of
// bytes it shares with others (kept alive by their owner): it reads them in place and copies
// them only when it is first changed.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)) {}
  TMemoryStream(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner)
      : shared_(bytes), owner_(std::move(owner)) {}

  std::int64_t Size() const override { return static_cast<std::int64_t>(Bytes().size()); }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  // New bytes are zero; truncation moves a position beyond the new end to the end.
  void SetSize(std::int64_t size) override;

  void Clear() { SetSize(0); }
  // The bytes to change in place (shared bytes are copied first).
  std::uint8_t* Memory() {
    Own();
    return data_.data();
  }
  const std::uint8_t* Memory() const { return Bytes().data(); }
  std::span<const std::uint8_t> Bytes() const { return owner_ ? shared_ : std::span<const std::uint8_t>(data_); }
  // Whether the bytes are shared, not the stream's own.
  bool Shares() const { return owner_ != nullptr; }
  // Replaces the content by the rest of the source stream and rewinds.
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& target) const;
  void Reserve(std::size_t capacity) {
    Own();
    data_.reserve(capacity);
  }
  // Hands the bytes over, leaving the stream empty.
  std::vector<std::uint8_t> Release();

 private:
  // Makes the shared bytes the stream's own.
  void Own();

  std::vector<std::uint8_t> data_;
  std::span<const std::uint8_t> shared_;
  std::shared_ptr<const void> owner_;  // null while the stream holds its own bytes
  std::int64_t position_ = 0;
};

// A read-only stream over bytes it does not copy. The optional owner keeps the bytes alive for
// as long as the stream lives (a resource stream keeps its library's image this way).
class TReadOnlyMemoryStream : public TStream {
 public:
  explicit TReadOnlyMemoryStream(std::span<const std::uint8_t> bytes,
                                 std::shared_ptr<const void> owner = nullptr)
      : bytes_(bytes), owner_(std::move(owner)) {}

  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::size_t Read(void* buffer, std::size_t count) override;
  // Always fails: the bytes are read-only.
  std::size_t Write(const void* buffer, std::size_t count) override;
  const std::uint8_t* Memory() const { return bytes_.data(); }
  std::span<const std::uint8_t> Bytes() const { return bytes_; }
  // What keeps the bytes alive, or null when the caller does.
  const std::shared_ptr<const void>& Owner() const { return owner_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::shared_ptr<const void> owner_;
  std::int64_t position_ = 0;
};

// Create truncates a file that exists; CreateNew fails when the file exists.
enum class FileMode { OpenRead, OpenReadWrite, Create, CreateNew };

// A stream over a file, closed when the stream goes. Opening fails with EFOpenError.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& name, FileMode mode);
  ~TFileStream() override;

  std::int64_t Size() const override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  void SetSize(std::int64_t size) override;

  // Closes the file at once; the system's error number when that fails (a write it had
  // delayed), else 0. The stream can do nothing more after it.
  int Close();
  // The system's error number of the last read or write that did less than asked, else 0.
  int LastError() const { return lastError_; }

 private:
  int fd_ = -1;
  int lastError_ = 0;
};

// A file written whole or not at all. The bytes go to a new temporary file in the target's
// folder, and Commit renames it over the target. Without Commit (a failure on the way), the
// temporary file is removed and the target stays as it was. Creating the temporary file fails
// with EFOpenError "Cannot create file %s", a write or the commit with EWriteError "Cannot write
// file %s", each naming the target and adding the system's reason ("No space left on device").
class TAtomicFileStream : public TStream {
 public:
  explicit TAtomicFileStream(const std::string& name);
  ~TAtomicFileStream() override;

  std::int64_t Size() const override { return file_->Size(); }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override { return file_->Seek(offset, origin); }
  std::size_t Read(void* buffer, std::size_t count) override { return file_->Read(buffer, count); }
  // Writes all bytes or fails with EWriteError.
  std::size_t Write(const void* buffer, std::size_t count) override;
  void SetSize(std::int64_t size) override { file_->SetSize(size); }

  // Closes the temporary file and puts it in the target's place.
  void Commit();

 private:
  [[noreturn]] void FailWrite(int error) const;

  std::string name_;
  std::string temporary_;
  std::unique_ptr<TFileStream> file_;
  bool committed_ = false;
};

// The whole content of a file; fails with EFOpenError or EReadError.
std::vector<std::uint8_t> ReadWholeFile(const std::string& name);
// Writes a file whole or not at all (TAtomicFileStream).
void WriteWholeFile(const std::string& name, std::span<const std::uint8_t> bytes);

}  // namespace tk
