// The program lock "PropietH" of one property, held around each pass over
// its owners so that no other program rewrites them meanwhile.
#pragma once

#include <string>

#include "app/step_result.h"
#include "config/catalog.h"
#include "data/locks.h"

namespace app {

// Takes the lock; it is refused only when the operator gave up a lock file
// out of reach with Esc, and a pass must not then read the owners unguarded.
inline StepResult LockOwners(const std::string& propertyCode) {
  if (data::LockKey("PropietH", propertyCode) == 0) return {};
  return StepResult::Failed(config::CatalogText("NO S'HA POGUT PRENDRE EL BLOQUEIG ") + "PropietH");
}

}  // namespace app
