#pragma once
// A private ODBC configuration: odbcinst.ini naming the SQLite ODBC driver
// and odbc.ini with the data sources "OlvexTest" and "OlvexTest2", both over
// the database "test.db" in the given folder. While the object lives,
// ODBCSYSINI and ODBCINI name them, and programs started then inherit them.
// Under Wine the host's unixODBC reads the Unix environment, which Windows
// programs cannot change for their children: there the files go where the
// ODBCSYSINI and ODBCINI that Wine was started with name them, and without
// those variables the configuration is not available.
#include <string>

namespace olvex::test {

class OdbcSources {
 public:
  explicit OdbcSources(const std::string& folder);
  ~OdbcSources();
  OdbcSources(const OdbcSources&) = delete;
  OdbcSources& operator=(const OdbcSources&) = delete;
  bool available() const { return available_; }
  // The database file as the host's driver sees it.
  const std::string& database() const { return database_; }

 private:
  std::string database_;
  bool available_ = false;
  bool set_environment_ = false;
};

}  // namespace olvex::test
