#include "config/built_in_texts.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "config/session.h"

namespace config {
namespace {

TEST(BuiltInTexts, EachLanguageCodeChoosesItsVersionAndAnyOtherCatalan) {
  const Translations& weekdays = texts::kWeekdays;
  EXPECT_EQ(InLanguage(weekdays, "SPA"), " L  M  X  J  V  S  D");
  EXPECT_EQ(InLanguage(weekdays, "GLG"), " L  M  X  J  V  S  D");
  EXPECT_EQ(InLanguage(weekdays, "OCI"), "DL DT DC DJ DD DS DG");
  EXPECT_EQ(InLanguage(weekdays, "CAT"), "DL DT DC DJ DV DS DG");
  EXPECT_EQ(InLanguage(weekdays, "   "), "DL DT DC DJ DV DS DG");
  // The codes are compared whole and as written.
  EXPECT_EQ(InLanguage(texts::kDiskFull, "spa"), "DISC PLE");
  EXPECT_EQ(InLanguage(texts::kDiskFull, "SP"), "DISC PLE");
}

TEST(BuiltInTexts, TheSessionLanguageChooses) {
  const std::string saved = Session().Language;
  Session().Language = "GLG";
  EXPECT_EQ(InSessionLanguage(texts::kPleaseWait), "ESPERE UM MOMENTO");
  Session().Language = "OCI";
  // The record layer's Aranese words keep their Windows-1252 bytes.
  EXPECT_EQ(InSessionLanguage(texts::kFileUnreachable), "NON SE P\xD2T ACCEDIR ATH FICH\xC8R ");
  Session().Language = saved;
}

// A file that cannot be written is explained in the operator's language
// where an administrator can mend the cause, and in plain ASCII otherwise.
TEST(BuiltInTexts, FileFailuresAreExplainedInTheSessionLanguage) {
  const std::string saved = Session().Language;
  Session().Language = "SPA";
  EXPECT_EQ(FileFailureReason(ENOSPC), "DISCO LLENO");
  EXPECT_EQ(FileFailureReason(EACCES), "PERMISO DENEGADO");
  Session().Language = "CAT";
  EXPECT_EQ(FileFailureReason(EDQUOT), "DISC PLE");
  EXPECT_EQ(FileFailureReason(EROFS), std::string("DISC NOMÉS DE LECTURA"_cp));
  EXPECT_EQ(FileFailureReason(EISDIR), std::string("ÉS UNA CARPETA"_cp));
  EXPECT_EQ(FileFailureReason(EIO), "ERROR " + std::to_string(EIO) + ": Input/output error");
  Session().Language = saved;
}

}  // namespace
}  // namespace config
