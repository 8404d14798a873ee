#include "data/transaction.h"

#include "data/files.h"

namespace data {

Transaction::Transaction() : beginStatus_(BeginTransaction()), open_(beginStatus_ == 0) {}

Transaction::~Transaction() { Abort(); }

std::int16_t Transaction::Commit() {
  if (!open_) return beginStatus_ != 0 ? beginStatus_ : kStatusNotOpen;
  const std::int16_t status = EndTransaction();
  if (status != 0) {
    // A commit that failed may have left the transaction open: end it
    // without its writes.
    Abort();
    return status;
  }
  open_ = false;
  return 0;
}

void Transaction::Abort() {
  if (!open_) return;
  open_ = false;
  AbortTransaction();
}

}  // namespace data
