// Exception classes of the toolkit. Every failure in the system is one of these, carrying the
// message text that the message loop shows to the user.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace tk {

// Message texts of the toolkit, verbatim.
inline constexpr std::string_view SReadError = "Stream read error";
inline constexpr std::string_view SWriteError = "Stream write error";
inline constexpr std::string_view SInvalidInteger = "'%s' is not a valid integer value";
inline constexpr std::string_view SListIndexError = "List index out of bounds (%d)";
inline constexpr std::string_view SResNotFound = "Resource %s not found";
inline constexpr std::string_view SAssignError = "Cannot assign a %s to a %s";
inline constexpr std::string_view SFOpenError = "Cannot open file %s";
inline constexpr std::string_view SFCreateError = "Cannot create file %s";
inline constexpr std::string_view SFWriteError = "Cannot write file %s";
inline constexpr std::string_view SUnknownExtension = "Unknown picture file extension (.%s)";
inline constexpr std::string_view SUnknownClipboardFormat = "Unsupported clipboard format";
inline constexpr std::string_view SClassNotFound = "Class %s not found";
inline constexpr std::string_view SCannotOpenClipboard = "Cannot open clipboard";
inline constexpr std::string_view SInvalidImage = "Bitmap image is not valid";
inline constexpr std::string_view SOutOfResources = "Out of system resources";

// One argument of Format: a text or an integer.
using FormatArg = std::variant<std::string_view, std::int64_t>;

// Fills the placeholders %s, %d, %x and %.Nx (N digits, zero-padded, upper-case hex) of a
// message text in order; %% gives a percent sign. A placeholder without an argument, or with one
// of the wrong kind, is left as it stands.
std::string Format(std::string_view text, std::initializer_list<FormatArg> args);

// Why an operation failed, in more detail than the system's message text: which part of the
// input broke which rule. It travels beside the message, never inside it, so the texts the
// program shows stay the system's own; tools print it on a line of its own.
struct Reason {
  std::string text;
};

class Exception : public std::exception {
 public:
  explicit Exception(std::string message, Reason reason = {})
      : message_(std::move(message)), reason_(std::move(reason.text)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  // The reason, or an empty text when the failure gives none.
  const std::string& ReasonText() const noexcept { return reason_; }

 private:
  std::string message_;
  std::string reason_;
};

class EStreamError : public Exception {
  using Exception::Exception;
};

// A read that could not deliver the bytes asked for.
class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError(std::string(SReadError)) {}
  explicit EReadError(Reason reason) : EStreamError(std::string(SReadError), std::move(reason)) {}
  using EStreamError::EStreamError;
};

class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError(std::string(SWriteError)) {}
  using EStreamError::EStreamError;
};

// A file that cannot be opened or created.
class EFOpenError : public EStreamError {
  using EStreamError::EStreamError;
};

class EInvalidGraphic : public Exception {
  using Exception::Exception;
};

class EInvalidGraphicOperation : public Exception {
  using Exception::Exception;
};

// A silent abort: the message loop shows nothing for it.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// A conversion of a text that failed, and the cannot-assign failure of persistent objects.
class EConvertError : public Exception {
  using Exception::Exception;
};

class EListError : public Exception {
 public:
  explicit EListError(std::int64_t index) : Exception(Format(SListIndexError, {index})) {}
};

class EResNotFound : public Exception {
 public:
  explicit EResNotFound(std::string_view name) : Exception(Format(SResNotFound, {name})) {}
};

class EOutOfResources : public Exception {
  using Exception::Exception;
};

// A class name that the class registry does not know.
class EClassNotFound : public Exception {
  using Exception::Exception;
};

class EClipboardError : public Exception {
  using Exception::Exception;
};

// The decimal value of a text, as the integer conversion of the platform reads it: optional
// blanks, an optional sign, decimal digits (or '$' and hex digits); anything else fails with
// EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// Texts compared, or turned to lower case, without regard to the case of the letters a-z.
bool SameText(std::string_view a, std::string_view b);
std::string LowerCase(std::string_view text);

}  // namespace tk
