#pragma once
// The database actions of the Data category: Execute SQL Query, Get Columns,
// Get Tables, Get Data Sources and Open Data Administrator. One connection
// stays open between steps while the data source and the user stay the same;
// the last query's result is what the Dataset loop walks.
#include <cstdint>
#include <string>

#include "platform/odbc.h"

namespace olvex {

// True for the action names this handler serves.
bool IsDatabaseAction(const std::string& action);
int DatabaseStep(int slot, int step_index);

// The text of a connection or query failure: the driver's own message
// without its "[vendor][component]" prefix, else the text of the error code.
std::string OdbcErrorText(int code, const std::string& driver_message);

// A list of names each followed by CR LF, as the list actions save it: each
// CR LF becomes `separator` ("," when empty) and the last one goes.
std::string SeparatedList(std::string list, std::string separator);

// The row limit of a query from the first number of `value4`: 0 means 1000,
// -1 means 1000000, any other value is the limit (below 0: no rows).
std::int64_t RowLimit(int field_number);

// A query's result as a step saves it: with `names` first the column names;
// each value followed by the column separator, the row's last by the row
// separator instead.
std::string QueryResultText(const platform::odbc::QueryResult& result, bool names, const std::string& column_separator,
                            const std::string& row_separator);

// The end of the program: closes the connection and frees the last result.
void CloseDatabase();

}  // namespace olvex
