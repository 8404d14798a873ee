#include "platform/system.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <random>
#include <thread>

#include "platform/signals.h"

extern char** environ;

namespace platform {
namespace {

class PosixSystem final : public System {
 public:
  LocalTime Now() override {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    LocalTime r;
    r.year = tm.tm_year + 1900;
    r.month = tm.tm_mon + 1;
    r.day = tm.tm_mday;
    r.hour = tm.tm_hour;
    r.minute = tm.tm_min;
    r.second = tm.tm_sec;
    r.millisecond = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return r;
  }

  std::int64_t MonotonicMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }

  void Pause(int ms) override {
    EndSessionIfTerminated();
    // In slices: some waits have no limit (a record locked by another
    // program), and a termination request must still end them.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
      std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(50)));
      EndSessionIfTerminated();
    }
  }

  double RandomFraction() override { return std::uniform_real_distribution<double>(0.0, 1.0)(engine_); }
  void SeedRandom(std::uint32_t seed) override { engine_.seed(seed); }

  std::string GetEnv(const std::string& name) override {
    const char* v = std::getenv(name.c_str());
    return v ? std::string(v) : std::string();
  }

  std::string ComputerName() override {
    // The suite asks with a 17-byte buffer: at most 16 characters.
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return {};
    std::string name(buf);
    if (name.size() > 16) name.resize(16);
    return name;
  }

  int RunAndWait(const std::string& program, const std::vector<std::string>& args) override {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    // posix_spawn reports a program that cannot be executed as an error.
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  }

 private:
  std::mt19937 engine_{std::random_device{}()};
};

System* g_current = nullptr;

}  // namespace

System& RealSystem() {
  static PosixSystem real;
  return real;
}

System& CurrentSystem() { return g_current ? *g_current : RealSystem(); }

ScopedSystem::ScopedSystem(System& system) : previous_(g_current) { g_current = &system; }
ScopedSystem::~ScopedSystem() { g_current = previous_; }

}  // namespace platform
