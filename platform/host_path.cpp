#include "platform/host_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "base/strings.h"

namespace platform {
namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (base::AsciiUpper(a[i]) != base::AsciiUpper(b[i])) return false;
  return true;
}

// The name under `dir` that `component` refers to.
std::string ResolveComponent(const std::string& dir, const std::string& component) {
  if (component == "." || component == "..") return component;
  std::string exact = (dir.empty() ? std::string(".") : dir) + "/" + component;
  struct stat st{};
  if (lstat(exact.c_str(), &st) == 0) return component;
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return component;
  std::vector<std::string> matches;
  while (dirent* e = readdir(d)) {
    if (EqualIgnoringCase(e->d_name, component)) matches.emplace_back(e->d_name);
  }
  closedir(d);
  if (matches.empty()) return component;
  return *std::min_element(matches.begin(), matches.end());
}

}  // namespace

std::optional<std::string> HostPath(std::string_view suitePath) {
  if (suitePath.size() >= 2 && suitePath[1] == ':') return std::nullopt;
  std::string path(suitePath);
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.empty()) return path;

  const bool absolute = path.front() == '/';
  const bool trailingSlash = path.back() == '/';
  std::string result = absolute ? "/" : "";
  std::string dir = absolute ? "/" : "";
  std::size_t pos = 0;
  bool first = true;
  while (pos <= path.size()) {
    std::size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    std::string component = path.substr(pos, next - pos);
    pos = next + 1;
    if (component.empty()) continue;
    std::string resolved = ResolveComponent(dir, component);
    if (!first || absolute) {
      if (!result.empty() && result.back() != '/') result += '/';
    }
    result += resolved;
    dir = result;
    first = false;
  }
  if (trailingSlash && !result.empty() && result.back() != '/') result += '/';
  return result;
}

std::string HostPathOrRaw(std::string_view suitePath) {
  if (auto p = HostPath(suitePath)) return *p;
  std::string raw(suitePath);
  std::replace(raw.begin(), raw.end(), '\\', '/');
  return raw;
}

bool PathExists(const std::string& hostPath) {
  struct stat st{};
  return stat(hostPath.c_str(), &st) == 0;
}

}  // namespace platform
