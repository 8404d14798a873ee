// The operating-system services the programs use besides files and the
// terminal: clock, pauses, random numbers, environment, computer name and
// starting other programs. One replaceable object, so that tests can fix
// "today", make pauses return at once or record what would be started.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct LocalTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class System {
 public:
  virtual ~System() = default;
  virtual LocalTime Now() = 0;
  // Milliseconds since an arbitrary start; never goes backwards.
  virtual std::int64_t MonotonicMs() = 0;
  // The real one ends early by throwing SessionEnded when a termination
  // signal arrives (see signals.h).
  virtual void Pause(int milliseconds) = 0;
  // Uniform in [0, 1).
  virtual double RandomFraction() = 0;
  virtual void SeedRandom(std::uint32_t seed) = 0;
  // Empty text for an unset variable.
  virtual std::string GetEnv(const std::string& name) = 0;
  // The machine's name, at most 16 characters; empty when unknown.
  virtual std::string ComputerName() = 0;
  // Runs `program` with `args` and waits for it. Returns its exit status, or
  // -1 when it could not be started at all.
  virtual int RunAndWait(const std::string& program, const std::vector<std::string>& args) = 0;
};

// The real operating system.
System& RealSystem();

// Forwards everything to another System; tests derive from it and override
// just what they need (a clock that jumps, a pause that returns at once).
class SystemWrapper : public System {
 public:
  explicit SystemWrapper(System& target) : target_(target) {}
  LocalTime Now() override { return target_.Now(); }
  std::int64_t MonotonicMs() override { return target_.MonotonicMs(); }
  void Pause(int ms) override { target_.Pause(ms); }
  double RandomFraction() override { return target_.RandomFraction(); }
  void SeedRandom(std::uint32_t seed) override { target_.SeedRandom(seed); }
  std::string GetEnv(const std::string& name) override { return target_.GetEnv(name); }
  std::string ComputerName() override { return target_.ComputerName(); }
  int RunAndWait(const std::string& program, const std::vector<std::string>& args) override {
    return target_.RunAndWait(program, args);
  }

 private:
  System& target_;
};

// The System in use (the real one unless a test installed another).
System& CurrentSystem();
// Installs `system` until the returned guard goes out of scope.
class ScopedSystem {
 public:
  explicit ScopedSystem(System& system);
  ~ScopedSystem();
  ScopedSystem(const ScopedSystem&) = delete;
  ScopedSystem& operator=(const ScopedSystem&) = delete;

 private:
  System* previous_;
};

// Shorthands for the current System.
inline LocalTime Now() { return CurrentSystem().Now(); }
inline std::int64_t MonotonicMs() { return CurrentSystem().MonotonicMs(); }
inline void Pause(int ms) { CurrentSystem().Pause(ms); }
inline double RandomFraction() { return CurrentSystem().RandomFraction(); }
inline std::string GetEnv(const std::string& name) { return CurrentSystem().GetEnv(name); }
inline std::string ComputerName() { return CurrentSystem().ComputerName(); }
inline int RunAndWait(const std::string& program, const std::vector<std::string>& args) {
  return CurrentSystem().RunAndWait(program, args);
}

}  // namespace platform
