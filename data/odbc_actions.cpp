#include "data/odbc_actions.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <string_view>

#include "engine/document.h"
#include "engine/flow.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/odbc.h"
#include "platform/system.h"
#include "system/program_start.h"
#include "vars/expand.h"

namespace olvex {

namespace {

namespace odbc = platform::odbc;

constexpr std::size_t kDataSourceMax = 259;
constexpr std::size_t kShortFieldMax = 31;     // user, password, separators
constexpr std::size_t kListMax = 0xFFF00;      // the lists of data sources and tables
constexpr std::size_t kConnectErrorMax = 255;
constexpr std::size_t kQueryErrorMax = 2042;   // longer: cut there and "..." added
constexpr std::size_t kLoggedQueryMax = 255;
constexpr std::size_t kDatasetColumns = 16;

// The connection and the last query's result, for the whole program.
struct Database {
  std::mutex mutex;
  odbc::Connection connection;
  std::string key;  // data source followed by user
  odbc::QueryResult result;
  bool source_installed = false;
};

Database& Db() {
  static Database db;
  return db;
}

int Fail(const std::string& text) {
  SetStepError(text);
  return 0;
}

std::string Cut(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

const char* TypeName(int type) {
  switch (type) {
    case -7: return "bit";
    case -6: return "tinyint";
    case -3: return "varbinary";
    case -2: return "binary";
    case -1: return "text";
    case 1:
    case 9:
    case 10: return "char";
    case 2: return "numeric";
    case 3: return "decimal";
    case 4: return "integer";
    case 5: return "smallint";
    case 6: return "float";
    case 7: return "real";
    case 8: return "double";
    case 11: return "datetime";
    case 12: return "varchar";
    default: return "unknown";
  }
}

// Types whose size belongs to the type: character, binary and exact numbers.
bool HasSize(int type) {
  return type == 1 || type == 12 || type == -2 || type == -3 || type == 2 || type == 3;
}

void InstallDatasetSource() {
  Database& db = Db();
  if (db.source_installed) return;
  db.source_installed = true;
  SetDatasetSource([]() -> std::optional<DatasetCopy> {
    Database& db = Db();
    std::lock_guard<std::mutex> lock(db.mutex);
    if (db.result.columns.empty()) return std::nullopt;
    DatasetCopy copy;
    const std::size_t columns = db.result.columns.size();
    copy.rows.resize(db.result.rows.size());
    std::size_t value = 0;
    db.result.rows.ForEach([&](std::string_view text) {
      if (value % columns < kDatasetColumns) copy.rows[value / columns].emplace_back(text);
      ++value;
    });
    return copy;
  });
}

class DatabaseStepRun {
 public:
  DatabaseStepRun(int slot, int step_index)
      : slot_(slot), index_(step_index), step_(Document(slot).steps[static_cast<std::size_t>(step_index)]) {}

  int Run() {
    const std::string& action = step_.action;
    if (ContainsNoCase(action, "ADMINISTRATOR")) return OpenAdministrator();
    if (ContainsNoCase(action, "Data Source")) return ListDataSources();
    if (!Connect()) return 0;
    if (ContainsNoCase(action, "TABLE")) return ListTables();
    if (ContainsNoCase(action, "COLUMN")) return ListColumns();
    return ExecuteQuery();
  }

 private:
  std::string Expand(std::string_view field) const { return ExpandText(field, slot_, index_, 0); }

  int OpenAdministrator() {
    if (!odbc::HasAdministrator()) return Fail("The ODBC administrator is not available on this system");
    const std::optional<std::string> system = platform::KnownFolder(platform::Folder::kSystem);
    if (system && StartProgramAndWait(*system + "\\odbcad32.exe", true, 0, true) == 1) return 1;
    if (StartProgramAndWait("odbcad32.exe", true, 0, true) == 1) return 1;
    return Fail("Unable to start the ODBC administrator \"odbcad32.exe\"");
  }

  int ListDataSources() {
    std::string names;
    odbc::Failure failure;
    if (!odbc::ListDataSources(&names, &failure))
      return Fail(Cut(OdbcErrorText(failure.code, failure.driver_message), kConnectErrorMax));
    SaveOutput(slot_, index_, SeparatedList(std::move(names), Expand(step_.value(4))));
    return 1;
  }

  bool Connect() {
    const std::string data_source = Cut(Expand(step_.value(1)), kDataSourceMax);
    const std::string user = Cut(Expand(step_.value(2)), kShortFieldMax);
    // The stored password has every character but line feed raised by 3.
    std::string password = step_.value(3);
    for (char& c : password)
      if (c != '\n') c = static_cast<char>(static_cast<unsigned char>(c) - 3);
    password = Cut(Expand(password), kShortFieldMax);
    Database& db = Db();
    std::lock_guard<std::mutex> lock(db.mutex);
    const std::string key = data_source + user;
    if (db.connection.connected() && db.key == key) return true;
    db.connection.Close();
    db.key.clear();
    LogLine("    Logging in to \"%s\"...", data_source.c_str());
    odbc::Failure failure;
    if (!db.connection.Connect(data_source, "", user, password, &failure)) {
      Fail(Cut(OdbcErrorText(failure.code, failure.driver_message), kConnectErrorMax));
      return false;
    }
    db.key = key;
    return true;
  }

  int ListTables() {
    Database& db = Db();
    std::string names;
    odbc::Failure failure;
    bool ok;
    {
      std::lock_guard<std::mutex> lock(db.mutex);
      ok = db.connection.ListTables(&names, &failure);
    }
    if (!ok) return QueryFailed(failure);
    SaveOutput(slot_, index_, SeparatedList(std::move(names), Expand(step_.value(4))));
    return 1;
  }

  int ListColumns() {
    const std::string table = Expand(step_.text);
    if (table.empty()) return Fail("Missing table name");
    Database& db = Db();
    odbc::QueryResult described;
    odbc::Failure failure;
    bool ok;
    {
      std::lock_guard<std::mutex> lock(db.mutex);
      ok = db.connection.Query("SELECT * FROM " + table, 0, StopRequestedOrKeyPressed, &described, &failure);
    }
    if (!ok) return described.stopped ? Fail("The query was stopped") : QueryFailed(failure);
    const bool attributes = ContainsNoCase(step_.options, "Attrib");
    std::string list;
    for (const odbc::Column& column : described.columns) {
      list += column.name;
      if (attributes) {
        list += ' ';
        list += TypeName(column.sql_type);
        if (HasSize(column.sql_type)) list += "(" + std::to_string(column.size) + ")";
      }
      list += "\r\n";
    }
    SaveOutput(slot_, index_, SeparatedList(std::move(list), Expand(step_.value(4))));
    return 1;
  }

  int ExecuteQuery() {
    const std::string query = Expand(step_.text);
    if (query.empty()) return Fail("Missing SQL query");
    const bool log = step_.run_attempts <= 2;
    if (log) {
      const std::string shown = query.size() > kLoggedQueryMax ? query.substr(0, kLoggedQueryMax) + "..." : query;
      LogLine("    EXEC SQL: \"%s\"", shown.c_str());
    }
    const std::int64_t limit = RowLimit(FirstNumber(Expand(step_.value(4))));
    InstallDatasetSource();
    Database& db = Db();
    std::unique_lock<std::mutex> lock(db.mutex);
    odbc::Failure failure;
    const bool ok = db.connection.Query(query, limit, StopRequestedOrKeyPressed, &db.result, &failure);
    if (!ok) {
      const bool stopped = db.result.stopped;
      db.result = odbc::QueryResult();
      lock.unlock();
      return stopped ? Fail("The query was stopped") : QueryFailed(failure);
    }
    const odbc::QueryResult& result = db.result;
    if (log) {
      long long row_size = 0;
      for (const odbc::Column& column : result.columns) row_size += std::clamp<long long>(column.display_width, 0, INT_MAX) + 1;
      LogLine("    Data Rows: %d  Columns: %d  Row Size: %d", static_cast<int>(result.rows.size()),
              static_cast<int>(result.columns.size()), static_cast<int>(std::min<long long>(row_size, INT_MAX)));
    }
    if (step_.output().empty()) return 1;
    const std::string text = QueryResultText(result, ContainsNoCase(step_.options, "Col"), ValueOr(5, ", "), ValueOr(6, "\r\n"));
    lock.unlock();
    SaveOutput(slot_, index_, text);
    return 1;
  }

  // A separator field, cut to its limit; `fallback` when empty.
  std::string ValueOr(int n, const char* fallback) const {
    std::string value = Cut(Expand(step_.value(n)), kShortFieldMax);
    return value.empty() ? fallback : value;
  }

  static int QueryFailed(const odbc::Failure& failure) {
    std::string text = OdbcErrorText(failure.code, failure.driver_message);
    if (text.size() > kQueryErrorMax) text = text.substr(0, kQueryErrorMax) + "...";
    return Fail(text);
  }

  int slot_;
  int index_;
  const Step& step_;
};

}  // namespace

bool IsDatabaseAction(const std::string& action) {
  for (std::string_view word : {"SQL", "Get Columns", "Get Tables", "Data Source", "Data Admin"})
    if (ContainsNoCase(action, word)) return true;
  return false;
}

int DatabaseStep(int slot, int step_index) { return DatabaseStepRun(slot, step_index).Run(); }

std::string OdbcErrorText(int code, const std::string& driver_message) {
  const std::size_t bracket = driver_message.rfind(']');
  const std::size_t text = bracket == std::string::npos ? 0 : driver_message.find_first_not_of(' ', bracket + 1);
  if (text < driver_message.size()) return driver_message.substr(text);
  switch (code) {
    case -1:
    case -6: return "An error occurred because of a bad programming parameter. ";
    case -2: return "An error occurred during environment allocation. ";
    case -3: return "An error occurred while allocating a connection. ";
    case -4: return "The program is unable to connect to the database. ";
    case -5:
    case -7: return "An error occurred during handle allocation. ";
    case -8: return "An error occurred while running the query. ";
    case -9: return "The system is out of memory. ";
    case -10: return "An error occurred while fetching the data results. ";
    case -11: return "An error occurred while getting the data from the driver. ";
    case -12: return "An error ocurred with the file. ";
    default: return "An unknown error occurred. (" + std::to_string(code) + ")";
  }
}

std::string SeparatedList(std::string list, std::string separator) {
  if (separator.empty()) separator = ",";
  list = Cut(std::move(list), kListMax);
  ReplaceAll(list, "\r\n", separator, false);
  if (list.size() >= separator.size() && list.compare(list.size() - separator.size(), separator.size(), separator) == 0)
    list.resize(list.size() - separator.size());
  return list;
}

std::int64_t RowLimit(int field_number) {
  if (field_number == 0) return 1000;
  if (field_number == -1) return 1000000;
  return std::max(field_number, 0);
}

std::string QueryResultText(const odbc::QueryResult& result, bool names, const std::string& column_separator,
                            const std::string& row_separator) {
  const std::size_t columns = result.columns.size();
  if (columns == 0) return {};
  const std::size_t separators = (columns - 1) * column_separator.size() + row_separator.size();
  std::size_t size = result.rows.bytes() + result.rows.size() * separators;
  if (names) {
    size += separators;
    for (const odbc::Column& c : result.columns) size += c.name.size();
  }
  std::string text;
  text.reserve(size);
  std::size_t column = 0;
  auto add = [&](std::string_view value) {
    text += value;
    text += ++column < columns ? column_separator : row_separator;
    if (column == columns) column = 0;
  };
  if (names)
    for (const odbc::Column& c : result.columns) add(c.name);
  result.rows.ForEach(add);
  return text;
}

void CloseDatabase() {
  Database& db = Db();
  std::lock_guard<std::mutex> lock(db.mutex);
  db.connection.Close();
  db.key.clear();
  db.result = odbc::QueryResult();
}

}  // namespace olvex
