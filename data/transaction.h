// A transaction as a scope: the constructor begins it, Commit keeps its
// writes, and anything else (a failed write, an early return, a session
// that ends half way and unwinds) abandons every one of them.
#pragma once

#include <cstdint>

namespace data {

class Transaction {
 public:
  Transaction();
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // 0 when the transaction began; nothing must be written otherwise.
  std::int16_t BeginStatus() const { return beginStatus_; }
  // Ends the transaction keeping its writes: 0, or the status of the end,
  // after which the writes are abandoned.
  std::int16_t Commit();
  // Abandons the writes now.
  void Abort();

 private:
  std::int16_t beginStatus_;
  bool open_;
};

}  // namespace data
