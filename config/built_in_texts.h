// The texts the programs carry in themselves, in the suite's four languages.
//
// The catalogue (catalog.h) translates the module's screen and report texts
// and can be edited at a site; these are the notices every program of the
// suite shows in the same words whatever its catalogue holds, or before one
// can be read: a data file out of reach, a record or a program lock to wait
// for, the temporary folder in use, a form file that cannot be used, the
// calendar's weekdays. The layers below the module take them from here
// rather than choosing words by language themselves.
#pragma once

#include <string>
#include <string_view>

#include "base/cp850.h"
#include "base/windows1252.h"

namespace config {

// One text in each language of the suite, as code page 850 bytes.
struct Translations {
  std::string_view catalan, galician, aranese, spanish;
};

// The version for `language` ("GLG", "OCI", "SPA", compared exactly); the
// Catalan one for any other value.
std::string_view InLanguage(const Translations& text, std::string_view language);
// The version for the session's language.
std::string_view InSessionLanguage(const Translations& text);

// Why a file could not be made, read or written (an errno value), in the
// session's language where the cause is one an administrator mends (a
// permission, a folder in the way, a full or read-only disk); otherwise
// "ERROR n: " and the system's own words, in English whatever the locale,
// so that no bytes of another code page reach the screen.
std::string FileFailureReason(int error);

namespace texts {

// The record layer's words. Its Aranese texts carry Windows-1252 bytes and
// are shown as they are.
inline constexpr Translations kFileUnreachable{
    "NO ES POT ACCEDIR AL FITXER ", "NOM SE PODE ACEDER AO FICHEIRO ", "NON SE PÒT ACCEDIR ATH FICHÈR "_cp1252,
    "NO SE PUEDE ACCEDER AL FICHERO "};
inline constexpr Translations kFileLocked{"FITXER BLOQUEJAT. ESPEREU UN MOMENT",
                                          "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO",
                                          "FICHÈR BLOQUEJAT. ESPERATZ UN MOMENT"_cp1252,
                                          "FICHERO BLOQUEADO. ESPERE UN MOMENTO"};
inline constexpr Translations kOrPressEsc{" O POLSEU [ESC] PER A EIXIR", " OU PULSE [ESC] PARA SAIR",
                                          " O POSSATZ [ESC] ENTÀ GÈSSER"_cp1252, " O PULSE [ESC] PARA SALIR"};
inline constexpr Translations kPleaseWait{"ESPEREU UN MOMENT", "ESPERE UM MOMENTO", "ESPERATZ UN MOMENT",
                                          "ESPERE UN MOMENTO"};

// Why a file cannot be reached, where an administrator can mend the cause.
inline constexpr Translations kPermissionDenied{"PERMÍS DENEGAT"_cp, "PERMISO DENEGADO", "PERMÍS REFUSAT"_cp,
                                                "PERMISO DENEGADO"};
inline constexpr Translations kIsAFolder{"ÉS UNA CARPETA"_cp, "É UN CARTAFOL"_cp, "EI UN DOSSIÈR"_cp,
                                         "ES UNA CARPETA"};
inline constexpr Translations kIsNotAFolder{"NO ÉS UNA CARPETA"_cp, "NON É UN CARTAFOL"_cp, "NON EI UN DOSSIÈR"_cp,
                                            "NO ES UNA CARPETA"};
inline constexpr Translations kReadOnlyDisk{"DISC NOMÉS DE LECTURA"_cp, "DISCO SÓ DE LECTURA"_cp,
                                            "DISC SONQUE DE LECTURA", "DISCO DE SOLO LECTURA"};
inline constexpr Translations kDiskFull{"DISC PLE", "DISCO CHEO", "DISC PLEN", "DISCO LLENO"};

// Who holds a program lock: "OCUPAT PER <operator>, ORDINADOR <computer>,
// DES DE <time>." or, without an operator, "OCUPAT PER L'ORDINADOR ...".
inline constexpr Translations kHeldBy{"OCUPAT PER ", "OCUPADO POR ", "OCUPAT PER ", "OCUPADO POR "};
inline constexpr Translations kComputer{"ORDINADOR ", "ORDENADOR ", "ORDENADOR ", "ORDENADOR "};
inline constexpr Translations kHeldByComputer{"OCUPAT PER L'ORDINADOR ", "OCUPADO POLO ORDENADOR ",
                                              "OCUPAT PER ETH ORDENADOR ", "OCUPADO POR EL ORDENADOR "};
inline constexpr Translations kSince{"DES DE ", "DESDE ", "DEMPÚS "_cp, "DESDE "};

// "UN ALTRE PROGRAMA (PROCÉS <pid>) JA FA SERVIR LA CARPETA TEMPORAL <folder>".
inline constexpr Translations kAnotherProgram{"UN ALTRE PROGRAMA ", "OUTRO PROGRAMA ", "UN AUTE PROGRAMA ",
                                              "OTRO PROGRAMA "};
inline constexpr Translations kProcess{"PROCÉS "_cp, "PROCESO ", "PROCÈS "_cp, "PROCESO "};
inline constexpr Translations kUsesTheTempFolder{"JA FA SERVIR LA CARPETA TEMPORAL ",
                                                 "XA ESTÁ A USAR O CARTAFOL TEMPORAL "_cp,
                                                 "JA UTILIZE ETH DOSSIÈR TEMPORAU "_cp,
                                                 "YA ESTÁ USANDO LA CARPETA TEMPORAL "_cp};

// "EL FITXER DE PANTALLES <path> NO ES POT LLEGIR" (or "ESTÀ MALMÈS").
inline constexpr Translations kFormFile{"EL FITXER DE PANTALLES ", "O FICHEIRO DE PANTALLAS ",
                                        "ETH FICHÈR DE PANTALHES "_cp, "EL FICHERO DE PANTALLAS "};
inline constexpr Translations kCannotBeRead{" NO ES POT LLEGIR", " NON SE PODE LER", " NON SE POT LÉGER"_cp,
                                            " NO SE PUEDE LEER"};
inline constexpr Translations kIsDamaged{" ESTÀ MALMÈS"_cp, " ESTÁ DANADO"_cp, " ESTÀ MALMÉS"_cp,
                                         " ESTÁ DAÑADO"_cp};

// "TERMINAL MASSA PETIT (60 x 20): CAL 80 x 24 COM A MÍNIM", shown instead
// of the screens while the terminal is smaller than they need; the sizes
// come first, so that a narrow terminal still shows them.
inline constexpr Translations kTerminalTooSmall{"TERMINAL MASSA PETIT (", "TERMINAL DEMASIADO PEQUENO (",
                                                "TERMINAU MASSA PETIT (", "TERMINAL DEMASIADO PEQUEÑO ("_cp};
inline constexpr Translations kNeeds{"): CAL ", "): PRECÍSASE "_cp, "): CAU ", "): SE NECESITA "};
inline constexpr Translations kAtLeast{" COM A MÍNIM"_cp, " COMO MÍNIMO"_cp, " AU MENS", " COMO MÍNIMO"_cp};

// The calendar's weekday initials, Monday first, over its columns.
inline constexpr Translations kWeekdays{"DL DT DC DJ DV DS DG", " L  M  X  J  V  S  D", "DL DT DC DJ DD DS DG",
                                        " L  M  X  J  V  S  D"};

}  // namespace texts
}  // namespace config
