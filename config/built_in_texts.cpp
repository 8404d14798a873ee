#include "config/built_in_texts.h"

#include <locale.h>

#include <cerrno>
#include <cstring>

#include "config/session.h"

namespace config {

std::string_view InLanguage(const Translations& text, std::string_view language) {
  if (language == "GLG") return text.galician;
  if (language == "OCI") return text.aranese;
  if (language == "SPA") return text.spanish;
  return text.catalan;
}

std::string_view InSessionLanguage(const Translations& text) { return InLanguage(text, Session().Language); }

std::string FileFailureReason(int error) {
  struct Reason {
    int error;
    const Translations& text;
  };
  static constexpr Reason kReasons[] = {
      {EACCES, texts::kPermissionDenied}, {EPERM, texts::kPermissionDenied}, {EISDIR, texts::kIsAFolder},
      {ENOTDIR, texts::kIsNotAFolder},    {EROFS, texts::kReadOnlyDisk},      {ENOSPC, texts::kDiskFull},
      {EDQUOT, texts::kDiskFull},
  };
  for (const Reason& r : kReasons)
    if (r.error == error) return std::string(InSessionLanguage(r.text));
  // The program's locale may speak another language in UTF-8; the screen
  // is code page 850.
  std::string words = "unknown error";
  if (const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{})) {
    words = strerror_l(error, c);
    freelocale(c);
  }
  return "ERROR " + std::to_string(error) + ": " + words;
}

}  // namespace config
