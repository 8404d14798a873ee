// The program locks that guard a write, asked for again right before the
// write is committed: a lock on the server goes with a server session that
// ended (a restart, a network gone for too long), and another workstation
// may then have taken the property and saved its own work.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "config/catalog.h"
#include "data/locks.h"

namespace app {

// Empty while this process still holds every lock of `names` it took; else
// why the write must not be made, for the operator.
inline std::string LostLockText(std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    switch (data::CheckLock(name)) {
      case data::LockStanding::kLost:
        return config::CatalogText("S'HA PERDUT EL BLOQUEIG DE LA FINCA");
      case data::LockStanding::kUnreachable:
        return config::CatalogText("NO ES POT COMPROVAR EL BLOQUEIG DE LA FINCA");
      case data::LockStanding::kHeld:
      case data::LockStanding::kNotHeld:
        break;
    }
  }
  return {};
}

}  // namespace app
