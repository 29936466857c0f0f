#include "platform/odbc.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform::odbc {

namespace {

constexpr SQLLEN kChunk = 65536;

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The first diagnostic record of a handle.
std::string DriverMessage(SQLSMALLINT handle_type, SQLHANDLE handle) {
  if (!handle) return {};
  SQLCHAR state[8] = {};
  SQLINTEGER native = 0;
  SQLCHAR text[4096] = {};
  SQLSMALLINT length = 0;
  if (!Ok(SQLGetDiagRec(handle_type, handle, 1, state, &native, text, sizeof text, &length))) return {};
  return std::string(reinterpret_cast<const char*>(text), std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), sizeof text - 1));
}

bool Fail(Failure* failure, int code, SQLSMALLINT handle_type = 0, SQLHANDLE handle = nullptr) {
  if (failure) {
    failure->code = code;
    failure->driver_message = handle ? DriverMessage(handle_type, handle) : std::string();
  }
  return false;
}

bool IsFixedWidthText(int type) { return type == SQL_CHAR || type == SQL_WCHAR; }
bool IsBinary(int type) { return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY; }
bool IsText(int type) {
  return type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_LONGVARCHAR || type == SQL_WCHAR ||
         type == SQL_WVARCHAR || type == SQL_WLONGVARCHAR;
}

// Reads a value in chunks as character or binary data; false on a driver
// error. A NULL reads as an empty value.
bool ReadLong(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT c_type, std::vector<char>& buffer, std::string* out) {
  out->clear();
  const SQLLEN terminator = c_type == SQL_C_CHAR ? 1 : 0;
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(statement, column, c_type, buffer.data(), static_cast<SQLLEN>(buffer.size()), &indicator);
    if (rc == SQL_NO_DATA) return true;
    if (!Ok(rc)) return false;
    if (indicator == SQL_NULL_DATA) return true;
    const SQLLEN room = static_cast<SQLLEN>(buffer.size()) - terminator;
    const SQLLEN got = (indicator == SQL_NO_TOTAL || indicator > room) ? room : indicator;
    out->append(buffer.data(), static_cast<std::size_t>(got));
    if (rc == SQL_SUCCESS) return true;  // with info: truncated, more follows
    if (indicator != SQL_NO_TOTAL && indicator <= room) return true;
  }
}

std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

std::string Fraction(SQLUINTEGER nanoseconds) {
  if (nanoseconds == 0) return {};
  char text[16];
  std::snprintf(text, sizeof text, ".%09u", static_cast<unsigned>(nanoseconds));
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  return s;
}

// Character data as a column of `type` shows it: fixed-width text without
// its trailing blanks, numbers without padding.
std::string_view Tidied(int type, std::string_view value) {
  const bool number = !IsText(type);
  if (number || IsFixedWidthText(type))
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  if (number)
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  return value;
}

// Read through a buffer bound to the column: character and number columns,
// when the driver lets a bound column be read again whole (a longer value).
bool Bindable(int type) {
  return !IsBinary(type) && type != SQL_DATE && type != SQL_TYPE_DATE && type != SQL_TIME && type != SQL_TYPE_TIME &&
         type != SQL_TIMESTAMP && type != SQL_TYPE_TIMESTAMP;
}
constexpr SQLLEN kBoundMax = 4096;
struct BoundColumn {
  std::vector<char> data;
  SQLLEN indicator = 0;
};

// A date, time or time stamp value in its structure; false on a driver
// error. A NULL leaves `*null` true.
template <class Value>
bool ReadStruct(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT c_type, Value* value, bool* null) {
  SQLLEN indicator = 0;
  if (!Ok(SQLGetData(statement, column, c_type, value, sizeof *value, &indicator))) return false;
  *null = indicator == SQL_NULL_DATA;
  return true;
}

// One value of the current row as text.
bool ReadValue(SQLHSTMT statement, SQLUSMALLINT column, int type, std::vector<char>& buffer, std::string* out) {
  char text[64] = {};
  bool null = false;
  if (type == SQL_DATE || type == SQL_TYPE_DATE) {
    DATE_STRUCT d{};
    if (!ReadStruct(statement, column, SQL_C_DATE, &d, &null)) return false;
    if (!null) std::snprintf(text, sizeof text, "%04d-%02u-%02u", d.year, d.month, d.day);
    return *out = text, true;
  }
  if (type == SQL_TIME || type == SQL_TYPE_TIME) {
    TIME_STRUCT t{};
    if (!ReadStruct(statement, column, SQL_C_TIME, &t, &null)) return false;
    if (!null) std::snprintf(text, sizeof text, "%02u:%02u:%02u", t.hour, t.minute, t.second);
    return *out = text, true;
  }
  if (type == SQL_TIMESTAMP || type == SQL_TYPE_TIMESTAMP) {
    TIMESTAMP_STRUCT t{};
    if (!ReadStruct(statement, column, SQL_C_TIMESTAMP, &t, &null)) return false;
    if (!null)
      std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return *out = null ? std::string() : text + Fraction(t.fraction), true;
  }
  if (IsBinary(type)) {
    std::string bytes;
    if (!ReadLong(statement, column, SQL_C_BINARY, buffer, &bytes)) return false;
    *out = Hex(bytes);
    return true;
  }
  if (!ReadLong(statement, column, SQL_C_CHAR, buffer, out)) return false;
  const std::string_view tidy = Tidied(type, *out);
  const auto from = static_cast<std::size_t>(tidy.data() - out->data());
  out->erase(from + tidy.size()).erase(0, from);
  return true;
}

// Asks `stop` every 20 ms while the driver works and cancels the statement
// when it says so.
class CancelWatch {
 public:
  CancelWatch(SQLHSTMT statement, const std::function<bool()>& stop) {
    if (!stop) return;
    thread_ = std::thread([this, statement, &stop] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!done_) {
        if (stop()) {
          cancelled_ = true;
          SQLCancel(statement);
          return;
        }
        wake_.wait_for(lock, std::chrono::milliseconds(20));
      }
    });
  }
  ~CancelWatch() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  bool cancelled() const { return cancelled_; }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::atomic<bool> cancelled_{false};
  std::thread thread_;
};

}  // namespace

void QueryValues::Add(std::string_view value) {
  constexpr std::size_t kBlock = 1u << 20;
  char length[10];
  std::size_t n = 0;
  for (std::size_t rest = value.size();; rest >>= 7) {
    length[n++] = static_cast<char>(rest < 0x80 ? rest : (rest & 0x7F) | 0x80);
    if (rest < 0x80) break;
  }
  if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < n + value.size())
    blocks_.emplace_back().reserve(std::max(kBlock, n + value.size()));
  blocks_.back().append(length, n).append(value);
  bytes_ += value.size();
}

bool ListDataSources(std::string* names, Failure* failure) {
  names->clear();
  SQLHENV environment = nullptr;
  if (!Ok(SQLAllocEnv(&environment))) return Fail(failure, error::kEnvironment);
  SQLCHAR name[SQL_MAX_DSN_LENGTH + 256];
  SQLCHAR description[1024];
  SQLSMALLINT name_length = 0, description_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    const SQLRETURN rc = SQLDataSources(environment, direction, name, sizeof name, &name_length, description,
                                        sizeof description, &description_length);
    if (!Ok(rc)) break;
    names->append(reinterpret_cast<const char*>(name));
    names->append("\r\n");
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeEnv(environment);
  return true;
}

bool Connection::Connect(const std::string& data_source, const std::string& database, const std::string& user,
                         const std::string& password, Failure* failure) {
  Close();
  SQLHENV environment = nullptr;
  if (!Ok(SQLAllocEnv(&environment))) return Fail(failure, error::kEnvironment);
  environment_ = environment;
  SQLHDBC connection = nullptr;
  if (!Ok(SQLAllocConnect(environment, &connection))) {
    Fail(failure, error::kConnection, SQL_HANDLE_ENV, environment);
    Close();
    return false;
  }
  auto give_up = [&](int code) {
    Fail(failure, code, SQL_HANDLE_DBC, connection);
    SQLFreeConnect(connection);
    Close();
    return false;
  };
  if (!database.empty() &&
      !Ok(SQLSetConnectAttr(connection, SQL_ATTR_CURRENT_CATALOG,
                            reinterpret_cast<SQLPOINTER>(const_cast<char*>(database.c_str())), SQL_NTS)))
    return give_up(error::kConnect);
  auto text = [](const std::string& s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str())); };
  if (!Ok(SQLConnect(connection, text(data_source), SQL_NTS, text(user), SQL_NTS, text(password), SQL_NTS)))
    return give_up(error::kConnect);
  SQLHSTMT statement = nullptr;
  if (!Ok(SQLAllocStmt(connection, &statement))) {
    SQLDisconnect(connection);
    return give_up(error::kHandle);
  }
  connection_ = connection;
  statement_ = statement;
  char name[256] = {};
  SQLSMALLINT length = 0;
  if (Ok(SQLGetInfo(connection, SQL_DRIVER_NAME, name, sizeof name, &length))) driver_name_ = name;
  SQLUINTEGER extensions = 0;
  rebind_allowed_ = Ok(SQLGetInfo(connection, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)) &&
                    (extensions & SQL_GD_BOUND) != 0;
  return true;
}

void Connection::Close() {
  if (statement_) SQLFreeStmt(static_cast<SQLHSTMT>(statement_), SQL_DROP);
  if (connection_) {
    SQLDisconnect(static_cast<SQLHDBC>(connection_));
    SQLFreeConnect(static_cast<SQLHDBC>(connection_));
  }
  if (environment_) SQLFreeEnv(static_cast<SQLHENV>(environment_));
  statement_ = connection_ = environment_ = nullptr;
  driver_name_.clear();
  rebind_allowed_ = false;
}

bool Connection::ListTables(std::string* names, Failure* failure) {
  names->clear();
  const auto statement = static_cast<SQLHSTMT>(statement_);
  if (!statement) return Fail(failure, error::kHandle);
  SQLFreeStmt(statement, SQL_CLOSE);
  if (!Ok(SQLTables(statement, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0)))
    return Fail(failure, error::kQuery, SQL_HANDLE_STMT, statement);
  std::vector<char> buffer(kChunk);
  std::string name, type;
  bool ok = true;
  for (;;) {
    const SQLRETURN rc = SQLFetch(statement);
    if (rc == SQL_NO_DATA) break;
    if (!Ok(rc)) {
      ok = Fail(failure, error::kFetch, SQL_HANDLE_STMT, statement);
      break;
    }
    if (!ReadLong(statement, 3, SQL_C_CHAR, buffer, &name) || !ReadLong(statement, 4, SQL_C_CHAR, buffer, &type)) {
      ok = Fail(failure, error::kGetData, SQL_HANDLE_STMT, statement);
      break;
    }
    if (type == "TABLE") names->append(name).append("\r\n");
  }
  SQLFreeStmt(statement, SQL_CLOSE);
  return ok;
}

bool Connection::Query(std::string_view text, std::int64_t row_limit, const std::function<bool()>& stop,
                       QueryResult* result, Failure* failure) {
  *result = QueryResult();
  const auto statement = static_cast<SQLHSTMT>(statement_);
  if (!statement) return Fail(failure, error::kHandle);
  SQLFreeStmt(statement, SQL_CLOSE);
  CancelWatch watch(statement, stop);
  std::string query(text);
  const SQLRETURN rc = SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(query.data()), static_cast<SQLINTEGER>(query.size()));
  if (watch.cancelled()) {
    result->stopped = true;
    SQLFreeStmt(statement, SQL_CLOSE);
    return Fail(failure, error::kQuery);
  }
  if (!Ok(rc) && rc != SQL_NO_DATA) return Fail(failure, error::kQuery, SQL_HANDLE_STMT, statement);
  SQLSMALLINT count = 0;
  if (!Ok(SQLNumResultCols(statement, &count))) return Fail(failure, error::kQuery, SQL_HANDLE_STMT, statement);
  const std::size_t columns = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(count, 0)), kMaxColumns);
  result->columns.resize(columns);
  for (std::size_t i = 0; i < columns; ++i) {
    Column& column = result->columns[i];
    SQLCHAR name[1024] = {};
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    const auto number = static_cast<SQLUSMALLINT>(i + 1);
    if (!Ok(SQLDescribeCol(statement, number, name, sizeof name, &name_length, &type, &size, &digits, &nullable)))
      return Fail(failure, error::kQuery, SQL_HANDLE_STMT, statement);
    column.name = reinterpret_cast<const char*>(name);
    column.sql_type = type;
    column.size = static_cast<std::int64_t>(size);
    SQLLEN width = 0;
    if (Ok(SQLColAttribute(statement, number, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &width)))
      column.display_width = width;
  }
  std::vector<char> buffer(kChunk);
  std::vector<BoundColumn> bound(columns);
  for (std::size_t i = 0; i < columns && rebind_allowed_; ++i) {
    const Column& column = result->columns[i];
    if (!Bindable(column.sql_type)) continue;
    bound[i].data.resize(static_cast<std::size_t>(std::clamp<std::int64_t>(column.display_width + 1, 64, kBoundMax)));
    if (!Ok(SQLBindCol(statement, static_cast<SQLUSMALLINT>(i + 1), SQL_C_CHAR, bound[i].data.data(),
                       static_cast<SQLLEN>(bound[i].data.size()), &bound[i].indicator)))
      bound[i].data.clear();
  }
  bool ok = true;
  std::string long_value;
  while (columns > 0 && static_cast<std::int64_t>(result->rows.size()) < row_limit) {
    if (watch.cancelled() || (stop && stop())) {
      result->stopped = true;
      ok = Fail(failure, error::kFetch);
      break;
    }
    const SQLRETURN fetched = SQLFetch(statement);
    if (fetched == SQL_NO_DATA) break;
    if (!Ok(fetched)) {
      result->stopped = watch.cancelled();
      ok = Fail(failure, error::kFetch, SQL_HANDLE_STMT, statement);
      break;
    }
    for (std::size_t i = 0; i < columns; ++i) {
      const BoundColumn& b = bound[i];
      const int type = result->columns[i].sql_type;
      if (!b.data.empty() && (b.indicator == SQL_NULL_DATA || (b.indicator >= 0 && b.indicator < static_cast<SQLLEN>(b.data.size())))) {
        result->rows.Add(Tidied(type, std::string_view(b.data.data(), b.indicator > 0 ? static_cast<std::size_t>(b.indicator) : 0)));
        continue;
      }
      if (!ReadValue(statement, static_cast<SQLUSMALLINT>(i + 1), type, buffer, &long_value)) {
        ok = Fail(failure, error::kGetData, SQL_HANDLE_STMT, statement);
        for (; i < columns; ++i) result->rows.Add({});  // the row keeps the values it has
        break;
      }
      result->rows.Add(long_value);
    }
    result->rows.EndRow();
    if (!ok) break;
  }
  SQLFreeStmt(statement, SQL_CLOSE);
  SQLFreeStmt(statement, SQL_UNBIND);
  return ok;
}

bool HasAdministrator() {
#ifdef _WIN32
  return true;
#else
  return false;
#endif
}

}  // namespace platform::odbc
