// The lock store in use, except that a lock this process holds counts as
// lost (or as out of reach) while the test says so: what a program sees when
// the server session that held its lock ended and another workstation took
// the lock meanwhile. Installed for the object's life.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "data/locks_store.h"

namespace data::locktest {

class LosingLockStore final : public LockStore {
 public:
  // `lost(name)`: whether the lock on `name`, held, is lost now.
  explicit LosingLockStore(std::function<bool(std::string_view name)> lost,
                           LockStanding instead = LockStanding::kLost)
      : lost_(std::move(lost)), instead_(instead), inner_(CurrentLockStore()), previous_(SetLockStore(this)) {}
  ~LosingLockStore() override { SetLockStore(previous_); }
  LosingLockStore(const LosingLockStore&) = delete;
  LosingLockStore& operator=(const LosingLockStore&) = delete;

  std::unique_ptr<LockTable> Open(std::string_view name, bool create, LockStoreFailure& failure) override {
    return inner_.Open(name, create, failure);
  }
  void Forget() override { inner_.Forget(); }
  LockStanding Standing(std::string_view name) override {
    const LockStanding standing = inner_.Standing(name);
    return standing == LockStanding::kHeld && lost_(name) ? instead_ : standing;
  }
  void ForgetLost(std::string_view name) override { inner_.ForgetLost(name); }

 private:
  std::function<bool(std::string_view)> lost_;
  LockStanding instead_;
  LockStore& inner_;
  LockStore* previous_;
};

}  // namespace data::locktest
