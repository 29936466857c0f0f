#pragma once
// ODBC data sources, connections and query results (Windows: odbc32; Linux:
// unixODBC). Only the plain entry points are called, never the A-suffixed
// ones (Wine's odbc32 lacks them). Values come back as text: numbers as the
// driver writes them, NULL as an empty value, dates and times in ISO form,
// fixed-width character columns without their trailing blanks, binary
// columns in hexadecimal.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::odbc {

// What went wrong: the step of the work that failed (the runtime's error
// codes, -1 to -12) and the driver's own message, when it gave one.
namespace error {
constexpr int kEnvironment = -2, kConnection = -3, kConnect = -4, kHandle = -5, kQuery = -8, kMemory = -9,
              kFetch = -10, kGetData = -11;
}
struct Failure {
  int code = 0;
  std::string driver_message;  // as the driver manager gives it, "[vendor][driver]text"
};

struct Column {
  std::string name;
  int sql_type = 0;             // the SQL type code (ODBC 2 codes: 9 date, 10 time, 11 timestamp)
  std::int64_t size = 0;        // the column size the driver reports
  std::int64_t display_width = 0;
};

// A result's values, kept flat: each value is its length (7 bits a byte, the
// high bit set while more follow) and its bytes, row after row, in blocks that
// are filled in turn and never moved (a value longer than a block gets a
// block of its own).
class QueryValues {
 public:
  std::size_t size() const { return rows_; }    // how many rows
  std::size_t bytes() const { return bytes_; }  // the values' length together
  // The next value of the current row; EndRow closes the row.
  void Add(std::string_view value);
  void EndRow() { ++rows_; }
  // Calls `fn` with every value, row after row.
  template <class Fn>
  void ForEach(Fn&& fn) const {
    for (const std::string& block : blocks_) {
      for (std::size_t i = 0; i < block.size();) {
        std::size_t length = 0;
        for (int shift = 0;; shift += 7) {
          const auto byte = static_cast<unsigned char>(block[i++]);
          length |= static_cast<std::size_t>(byte & 0x7F) << shift;
          if (byte < 0x80) break;
        }
        fn(std::string_view(block).substr(i, length));
        i += length;
      }
    }
  }

 private:
  std::vector<std::string> blocks_;
  std::size_t rows_ = 0, bytes_ = 0;
};

struct QueryResult {
  std::vector<Column> columns;  // at most kMaxColumns
  QueryValues rows;             // each the values of the columns, as text
  bool stopped = false;         // `stop` said so; the rows so far are kept
};
inline constexpr std::size_t kMaxColumns = 512;

// The configured data sources' names, each followed by CR LF.
bool ListDataSources(std::string* names, Failure* failure);

// One connection with its environment and statement. Not copyable; closed
// when destroyed.
class Connection {
 public:
  Connection() = default;
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Connects to a data source (an empty `database` keeps the data source's
  // own catalog). On failure nothing is left open.
  bool Connect(const std::string& data_source, const std::string& database, const std::string& user,
               const std::string& password, Failure* failure);
  bool connected() const { return connection_ != nullptr; }
  const std::string& driver_name() const { return driver_name_; }

  // The names of the data source's tables (views and system tables left
  // out), each followed by CR LF.
  bool ListTables(std::string* names, Failure* failure);

  // Runs a statement and reads at most `row_limit` rows of its result (0:
  // only the columns). `stop` is asked between rows and, while the driver
  // works, every 20 ms from a watcher that then cancels the statement.
  bool Query(std::string_view statement, std::int64_t row_limit, const std::function<bool()>& stop,
             QueryResult* result, Failure* failure);

  // Frees the statement, disconnects, frees the connection and the environment.
  void Close();

 private:
  void* environment_ = nullptr;
  void* connection_ = nullptr;
  void* statement_ = nullptr;
  std::string driver_name_;
  bool rebind_allowed_ = false;  // SQLGetData may read a bound column again
};

// Whether this system has an ODBC administrator program ("odbcad32.exe" in
// the system folder on Windows; Linux has none).
bool HasAdministrator();

}  // namespace platform::odbc
