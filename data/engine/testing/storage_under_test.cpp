// Linked into the test programs that run on either storage: SQLite files
// when KITDB is unset, the PostgreSQL server it names otherwise (CTest runs
// them a second time, labelled "postgres", against a private server).
//
// On the server every test gets a schema of its own (KITDB_SCHEMA, which
// the programs and processes it starts inherit), as on files every test
// gets a directory of its own. When CTest's server could not be started
// because this machine has no server programs, the tests end with status 77
// (skipped) after saying why.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr int kSkipped = 77;

std::string SchemaFor(const testing::TestInfo& test) {
  std::string name = std::string("t_") + test.test_suite_name() + "_" + test.name();
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
  name = name.substr(0, 48);
  return name + "_" + std::to_string(::getpid());
}

class SchemaPerTest : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo& test) override {
    ::setenv("KITDB_SCHEMA", SchemaFor(test).c_str(), 1);
  }
};

// Why the server named by KITDB is not there to test against, when the
// test server's folder says so; empty otherwise.
std::string Unavailable(const char* conninfo) {
  PQconninfoOption* options = PQconninfoParse(conninfo, nullptr);
  std::string host;
  for (PQconninfoOption* o = options; o && o->keyword; ++o)
    if (std::string(o->keyword) == "host" && o->val) host = o->val;
  PQconninfoFree(options);
  if (host.empty() || host[0] != '/') return {};
  std::ifstream reason(host + "/unavailable");
  if (!reason) return {};
  std::string text((std::istreambuf_iterator<char>(reason)), std::istreambuf_iterator<char>());
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text.empty() ? "no test server" : text;
}

class ServerUnderTest : public testing::Environment {
  void SetUp() override {
    const char* conninfo = std::getenv("KITDB");
    if (!conninfo || !*conninfo) return;
    if (const std::string reason = Unavailable(conninfo); !reason.empty()) {
      std::printf("skipped, the server storage cannot be tested here: %s\n", reason.c_str());
      std::fflush(stdout);
      std::_Exit(kSkipped);
    }
    testing::UnitTest::GetInstance()->listeners().Append(new SchemaPerTest);
  }
};

[[maybe_unused]] testing::Environment* const g_serverUnderTest =
    testing::AddGlobalTestEnvironment(new ServerUnderTest);

}  // namespace
