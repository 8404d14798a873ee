#include "bench/server_schema.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>

namespace bench {

bool OnServer() {
  const char* server = std::getenv("KITDB");
  return server && *server;
}

ServerSchema::ServerSchema(std::string_view prefix) {
  if (!OnServer()) return;
  name_ = std::string(prefix) + "_" + std::to_string(::getpid());
  ::setenv("KITDB_SCHEMA", name_.c_str(), 1);
}

ServerSchema::~ServerSchema() {
  if (name_.empty()) return;
  PGconn* conn = PQconnectdb(std::getenv("KITDB"));
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  if (PQstatus(conn) == CONNECTION_OK) PQclear(PQexec(conn, ("DROP SCHEMA " + name_ + " CASCADE").c_str()));
  PQfinish(conn);
}

}  // namespace bench
