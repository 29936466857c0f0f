#pragma once
// A private ODBC configuration: odbcinst.ini naming the SQLite ODBC driver
// and odbc.ini with the data sources "OlvexTest" and "OlvexTest2", both over
// the database "test.db" in the given folder. While the object lives,
// ODBCSYSINI and ODBCINI name them (programs started then inherit them; under
// Wine the host's unixODBC reads them in those programs).
#include <string>

namespace olvex::test {

class OdbcSources {
 public:
  explicit OdbcSources(const std::string& folder);
  ~OdbcSources();
  OdbcSources(const OdbcSources&) = delete;
  OdbcSources& operator=(const OdbcSources&) = delete;
  // The database file as the host's driver sees it.
  const std::string& database() const { return database_; }

 private:
  std::string database_;
};

}  // namespace olvex::test
