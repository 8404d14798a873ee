// Benchmarks with the data files on a PostgreSQL server.
#pragma once

#include <string>
#include <string_view>

namespace bench {

// True when KITDB names a server for the data files.
bool OnServer();

// On a server: a schema of the benchmark's own, made by the record manager
// on first use and dropped at the end. Nothing without one.
class ServerSchema {
 public:
  // The schema is named `prefix` and the process id.
  explicit ServerSchema(std::string_view prefix);
  ~ServerSchema();
  ServerSchema(const ServerSchema&) = delete;
  ServerSchema& operator=(const ServerSchema&) = delete;

 private:
  std::string name_;
};

}  // namespace bench
