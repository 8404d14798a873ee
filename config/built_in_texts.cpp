#include "config/built_in_texts.h"

#include "config/session.h"

namespace config {

std::string_view InLanguage(const Translations& text, std::string_view language) {
  if (language == "GLG") return text.galician;
  if (language == "OCI") return text.aranese;
  if (language == "SPA") return text.spanish;
  return text.catalan;
}

std::string_view InSessionLanguage(const Translations& text) { return InLanguage(text, Session().Language); }

}  // namespace config
