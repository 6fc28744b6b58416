#include "toolkit/core/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

namespace tk {

namespace fs = std::filesystem;

namespace {

// Files are opened as bytes, and not inherited by programs started meanwhile (the C runtime of
// Windows translates line ends unless told not to).
#ifdef _WIN32
constexpr int kOpenFlags = O_BINARY | O_NOINHERIT;
int Truncate(int fd, std::int64_t size) { return ::_chsize_s(fd, size) == 0 ? 0 : -1; }
std::int64_t SeekFile(int fd, std::int64_t offset, int whence) { return ::_lseeki64(fd, offset, whence); }
std::int64_t FileSize(int fd) {
  struct _stati64 st;
  return ::_fstati64(fd, &st) == 0 ? st.st_size : 0;
}
#else
constexpr int kOpenFlags = O_CLOEXEC;
int Truncate(int fd, std::int64_t size) { return ::ftruncate(fd, size); }
std::int64_t SeekFile(int fd, std::int64_t offset, int whence) { return ::lseek(fd, offset, whence); }
std::int64_t FileSize(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? st.st_size : 0;
}
#endif

// The position a seek asks for, or -1 when it lies before the start or overflows.
std::int64_t SeekTarget(std::int64_t position, std::int64_t size, std::int64_t offset,
                        SeekOrigin origin) {
  std::int64_t base = origin == SeekOrigin::Beginning ? 0
                      : origin == SeekOrigin::Current ? position
                                                      : size;
  std::int64_t target;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
  return target;
}


// The plain read of both memory streams: copies what lies between the position and the end.
std::size_t ReadAt(std::span<const std::uint8_t> bytes, std::int64_t& position, void* buffer,
                   std::size_t count) {
  if (count == 0 || position >= static_cast<std::int64_t>(bytes.size())) return 0;
  std::size_t n = std::min<std::size_t>(count, bytes.size() - static_cast<std::size_t>(position));
  std::memcpy(buffer, bytes.data() + position, n);
  position += static_cast<std::int64_t>(n);
  return n;
}

}  // namespace

void TStream::SetSize(std::int64_t) { throw EStreamError("Stream cannot change its size"); }

std::int64_t TStream::Remaining() const { return std::max<std::int64_t>(0, Size() - Position()); }

void TStream::ReadBuffer(void* buffer, std::size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError();
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0) throw EReadError();
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 16)));
  std::int64_t left = count;
  while (left > 0) {
    std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= static_cast<std::int64_t>(n);
  }
  return count;
}

std::uint8_t TStream::ReadU8() {
  std::uint8_t v;
  ReadBuffer(&v, 1);
  return v;
}

std::uint16_t TStream::ReadU16() {
  std::uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}

std::uint32_t TStream::ReadU32() {
  std::uint8_t b[4];
  ReadBuffer(b, 4);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void TStream::WriteU16(std::uint16_t v) {
  std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
  WriteBuffer(b, 2);
}

void TStream::WriteU32(std::uint32_t v) {
  std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  WriteBuffer(b, 4);
}

// ---- TMemoryStream

std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t target = SeekTarget(position_, Size(), offset, origin);
  if (target < 0) return -1;
  return position_ = target;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  return ReadAt(Bytes(), position_, buffer, count);
}

void TMemoryStream::Own() {
  if (!owner_) return;
  data_.assign(shared_.begin(), shared_.end());
  shared_ = {};
  owner_.reset();
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return 0;
  Own();
  // A position far beyond the end cannot be written there: nothing is written.
  if (count > data_.max_size() || static_cast<std::uint64_t>(position_) > data_.max_size() - count)
    return 0;
  std::size_t end = static_cast<std::size_t>(position_) + count;
  if (end > data_.size()) {
    if (end > data_.capacity()) data_.reserve(std::max(end, data_.capacity() * 2));
    data_.resize(end);
  }
  std::memcpy(data_.data() + position_, buffer, count);
  position_ = static_cast<std::int64_t>(end);
  return count;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  if (owner_ && size == 0) {
    shared_ = {};  // nothing left to share
    owner_.reset();
  } else if (owner_ && static_cast<std::size_t>(size) <= shared_.size()) {
    shared_ = shared_.first(static_cast<std::size_t>(size));  // still a view, of fewer bytes
  } else {
    Own();
    data_.resize(static_cast<std::size_t>(size));
  }
  if (position_ > size) position_ = size;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  shared_ = {};
  owner_.reset();
  std::int64_t count = source.Remaining();
  data_.resize(static_cast<std::size_t>(count));
  source.ReadBuffer(data_.data(), data_.size());
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& target) const { target.WriteBuffer(Bytes()); }

std::vector<std::uint8_t> TMemoryStream::Release() {
  Own();
  position_ = 0;
  return std::exchange(data_, {});
}

// ---- TReadOnlyMemoryStream

std::int64_t TReadOnlyMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t target = SeekTarget(position_, Size(), offset, origin);
  if (target < 0) return -1;
  return position_ = target;
}

std::size_t TReadOnlyMemoryStream::Read(void* buffer, std::size_t count) {
  return ReadAt(bytes_, position_, buffer, count);
}

std::size_t TReadOnlyMemoryStream::Write(const void*, std::size_t) {
  throw EStreamError("Can't write to a read-only resource stream");
}

// ---- TFileStream

TFileStream::TFileStream(const std::string& name, FileMode mode) {
  int flags = mode == FileMode::OpenRead        ? O_RDONLY
              : mode == FileMode::OpenReadWrite ? O_RDWR
              : mode == FileMode::Create        ? O_RDWR | O_CREAT | O_TRUNC
                                                : O_RDWR | O_CREAT | O_EXCL;
  fd_ = ::open(name.c_str(), flags | kOpenFlags, 0644);
  if (fd_ < 0) {
    const bool create = mode == FileMode::Create || mode == FileMode::CreateNew;
    throw EFOpenError(Format(create ? SFCreateError : SFOpenError, {name}) +
                      ". " + std::strerror(errno));
  }
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    throw EFOpenError(Format(SFOpenError, {name}) + ". Is a directory");
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::Size() const {
  return FileSize(fd_);
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  int whence = origin == SeekOrigin::Beginning ? SEEK_SET
               : origin == SeekOrigin::Current ? SEEK_CUR
                                               : SEEK_END;
  const std::int64_t r = SeekFile(fd_, offset, whence);
  return r < 0 ? -1 : r;
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t r = ::read(fd_, static_cast<char*>(buffer) + done, count - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) lastError_ = errno;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t r = ::write(fd_, static_cast<const char*>(buffer) + done, count - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) lastError_ = errno;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

int TFileStream::Close() {
  if (fd_ < 0) return 0;
  const int r = ::close(fd_);
  fd_ = -1;
  return r == 0 ? 0 : errno;
}

void TFileStream::SetSize(std::int64_t size) {
  if (size < 0 || Truncate(fd_, size) != 0) throw EStreamError("Cannot change the file size");
  if (Position() > size) Seek(size, SeekOrigin::Beginning);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& name) {
  TFileStream file(name, FileMode::OpenRead);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Size()));
  file.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

// ---- TAtomicFileStream

TAtomicFileStream::TAtomicFileStream(const std::string& name) : name_(name) {
  // The temporary file lies beside the target, so that the rename stays within one file system;
  // a random part keeps two writers of one target apart.
  const fs::path target(name);
  std::random_device device;
  std::mt19937_64 random((std::uint64_t{device()} << 32) ^
                         static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0;; ++attempt) {
    char part[24];
    std::snprintf(part, sizeof part, ".%016llx.tmp", static_cast<unsigned long long>(random()));
    std::string hidden = ".";
    hidden.append(target.filename().string()).append(part);
    fs::path temporary = target;
    temporary.replace_filename(hidden);
    try {
      file_ = std::make_unique<TFileStream>(temporary.string(), FileMode::CreateNew);
      temporary_ = temporary.string();
      return;
    } catch (const EFOpenError& e) {
      std::error_code ec;
      if (attempt < 8 && fs::exists(temporary, ec)) continue;
      // The same failure, told of the target: the reason follows the file name.
      const std::string said = Format(SFCreateError, {temporary.string()});
      const std::string reason = e.Message().rfind(said, 0) == 0 ? e.Message().substr(said.size()) : "";
      throw EFOpenError(Format(SFCreateError, {name}) + reason);
    }
  }
}

TAtomicFileStream::~TAtomicFileStream() {
  if (committed_) return;
  file_.reset();
  std::error_code ec;
  fs::remove(temporary_, ec);
}

void TAtomicFileStream::FailWrite(int error) const {
  throw EWriteError(Format(SFWriteError, {name_}) + ". " +
                    (error != 0 ? std::strerror(error) : "The file system takes no more bytes"));
}

std::size_t TAtomicFileStream::Write(const void* buffer, std::size_t count) {
  const std::size_t done = file_->Write(buffer, count);
  if (done != count) FailWrite(file_->LastError());
  return done;
}

void TAtomicFileStream::Commit() {
  if (committed_) return;
  if (const int error = file_->Close()) FailWrite(error);
  std::error_code ec;
  // The file keeps the permissions of the one it replaces.
  const fs::file_status status = fs::status(name_, ec);
  if (!ec && fs::is_regular_file(status)) fs::permissions(temporary_, status.permissions(), ec);
  fs::rename(temporary_, name_, ec);
  if (ec) throw EWriteError(Format(SFWriteError, {name_}) + ". " + ec.message());
  committed_ = true;
}

void WriteWholeFile(const std::string& name, std::span<const std::uint8_t> bytes) {
  TAtomicFileStream file(name);
  file.WriteBuffer(bytes.data(), bytes.size());
  file.Commit();
}

}  // namespace tk
