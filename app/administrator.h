// The administrator's data the listings print and the fee line tests: the
// letterhead, the tax number and the place, from RootDir + "Vora.ini",
// section "Administrador".
#pragma once

#include <array>
#include <string>

namespace app {

// [1..6] letterhead lines "Linia1".."Linia6", [7] "NIF", [8] "Poblacio";
// index 0 unused.
std::array<std::string, 9> AdministratorData();

// The "NIF" value with every character that is not a letter or a digit
// removed, upper-cased.
std::string AdministratorTaxId();

}  // namespace app
