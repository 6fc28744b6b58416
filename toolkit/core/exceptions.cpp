#include "toolkit/core/exceptions.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace tk {

std::string Format(std::string_view text, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(text.size() + 16);
  auto next = args.begin();
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '%' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    if (text[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // Parse an optional precision ".N" before the conversion letter.
    std::size_t j = i + 1;
    int digits = 0;
    if (text[j] == '.') {
      ++j;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9') digits = digits * 10 + (text[j++] - '0');
    }
    if (j >= text.size() || next == args.end()) {
      out += c;
      continue;
    }
    char conv = text[j];
    const FormatArg& arg = *next;
    if (conv == 's' && std::holds_alternative<std::string_view>(arg)) {
      out += std::get<std::string_view>(arg);
    } else if (conv == 'd' && std::holds_alternative<std::int64_t>(arg)) {
      out += std::to_string(std::get<std::int64_t>(arg));
    } else if (conv == 'x' && std::holds_alternative<std::int64_t>(arg)) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%0*llX", digits,
                    static_cast<unsigned long long>(std::get<std::int64_t>(arg)));
      out += buf;
    } else {
      out += c;
      continue;
    }
    ++next;
    i = j;
  }
  return out;
}

std::int32_t StrToInt(std::string_view text) {
  auto fail = [&]() -> std::int32_t {
    throw EConvertError(Format(SInvalidInteger, {text}));
  };
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  }
  if (i >= text.size()) return fail();
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return fail();
  const std::uint64_t limit = negative ? 0x80000000ull : (base == 16 ? 0xFFFFFFFFull : 0x7FFFFFFFull);
  if (value > limit) return fail();
  return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value))
                  : static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

namespace {
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

}  // namespace tk
