#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/odbc_handle.h"

#include <algorithm>
#include <cstring>

#include "dbengine/engine.h"
#include "platform/sockets.h"

namespace sa::dbengine::odbc {

WideString Widen(std::string_view utf8) {
  WideString out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c >> 5) == 0x6) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c >> 4) == 0xE) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c >> 3) == 0x1E) {
      cp = c & 0x07;
      len = 4;
    } else {
      cp = 0xFFFD;
      len = 1;
    }
    if (len > 1) {
      if (i + len > utf8.size()) {
        cp = 0xFFFD;
        len = utf8.size() - i;
      } else {
        for (size_t k = 1; k < len; ++k) {
          const auto cc = static_cast<unsigned char>(utf8[i + k]);
          if ((cc >> 6) != 0x2) {
            cp = 0xFFFD;
            len = k;
            break;
          }
          cp = (cp << 6) | (cc & 0x3F);
        }
      }
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<SQLWCHAR>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<SQLWCHAR>(cp));
    }
  }
  return out;
}

std::string Narrow(const SQLWCHAR* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

namespace {

struct Diagnostic {
  std::string state;
  SQLINTEGER native = 0;
  std::string text;
};

Diagnostic FirstDiagnostic(SQLSMALLINT handleType, SQLHANDLE handle) {
  Diagnostic d;
  if (handle == SQL_NULL_HANDLE) return d;
  SQLWCHAR state[6] = {};
  SQLWCHAR text[1024] = {};
  SQLSMALLINT length = 0;
  const SQLRETURN rc =
      SQLGetDiagRecW(handleType, handle, 1, state, &d.native, text,
                     static_cast<SQLSMALLINT>(sizeof text / sizeof text[0]), &length);
  if (!SQL_SUCCEEDED(rc)) return d;
  d.state = Narrow(state, 5);
  const size_t n = std::min<size_t>(static_cast<size_t>(length), sizeof text / sizeof text[0] - 1);
  d.text = Narrow(text, n);
  return d;
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

std::string DiagnosticState(SQLSMALLINT handleType, SQLHANDLE handle) {
  return FirstDiagnostic(handleType, handle).state;
}

Error DiagnosticError(SQLSMALLINT handleType, SQLHANDLE handle, const std::string& context) {
  const Diagnostic d = FirstDiagnostic(handleType, handle);
  std::string cause = context;
  if (!d.state.empty()) {
    if (!cause.empty()) cause += "\n";
    cause += "[" + d.state + "] " + d.text + " (native " + std::to_string(d.native) + ")";
  }
  const std::string& s = d.state;
  if (s == "IM002" || s == "IM003" || s == "IM004" || s == "08001" || s == "08004" ||
      s == "28000" || s == "3D000") {
    return Error(EngineError::kConnectFailed, "ODBC--connection failed.", cause);
  }
  if (s == "08S01" || s == "08003" || s == "08007" || s == "HYT01") {
    return Error(EngineError::kIo, "Disk or network error.", cause);
  }
  // A key the table already holds: the integrity states, and SQLite's own
  // words, which its driver passes on under the general state HY000.
  if (s == "23505" || s == "23000" ||
      (s == "HY000" && (d.text.find("UNIQUE constraint failed") != std::string::npos ||
                        d.text.find("PRIMARY KEY must be unique") != std::string::npos))) {
    return Error(EngineError::kDuplicateKey,
                 "The changes were not made because they would create duplicate values in the "
                 "index or primary key.",
                 cause);
  }
  if (s == "22001") return Error(EngineError::kFieldTooSmall, "The field is too small.", cause);
  if (s == "22003") return Error(EngineError::kNumericOverflow, "Numeric field overflow.", cause);
  if (StartsWith(s, "22"))
    return Error(EngineError::kDataConversion, "Data type conversion error.", cause);
  if (s == "42S02" || s == "42P01") {
    return Error(EngineError::kTableNotFound, "Cannot find the input table or query.", cause);
  }
  if (s == "42S22" || s == "42703") {
    return Error(EngineError::kItemNotFound, "Item not found in this collection.", cause);
  }
  if (s == "42S01" || s == "42P07")
    return Error(EngineError::kTableExists, "Table already exists.", cause);
  // PostgreSQL's lock_timeout and deadlocks; SQLite's busy timeout and
  // InnoDB's lock wait, which their drivers pass on under the general state.
  if (s == "40001" || s == "55P03" || s == "40P01" ||
      (s == "HY000" && (d.text.find("database is locked") != std::string::npos ||
                        d.text.find("Lock wait timeout exceeded") != std::string::npos))) {
    return Error(EngineError::kLocked, "The database is locked by another program.", cause);
  }
  // A statement ended by its timeout: the driver's own, PostgreSQL's
  // statement_timeout, MariaDB's max_statement_time.
  if (s == "HYT00" || s == "57014" || s == "70100") {
    return Error(EngineError::kQueryTimeout, "ODBC--remote query timeout expired.", cause);
  }
  if (StartsWith(s, "42"))
    return Error(EngineError::kSyntax, "Syntax error or invalid query.", cause);
  return Error(EngineError::kCallFailed, "ODBC--call failed.", cause);
}

Environment::Environment() {
  SQLHANDLE env = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    throw Error(EngineError::kCallFailed, "ODBC--call failed.",
                "the driver manager has no environment");
  }
  env_ = Handle<SQL_HANDLE_ENV>(env);
  const SQLRETURN rc =
      SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(rc)) throw DiagnosticError(SQL_HANDLE_ENV, env, "ODBC version 3");
}

std::vector<std::string> Environment::Drivers() const {
  std::vector<std::string> names;
  SQLWCHAR name[512];
  SQLWCHAR attributes[2048];
  SQLSMALLINT nameLength = 0;
  SQLSMALLINT attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDriversW(env_.get(), direction, name, 512, &nameLength, attributes, 2048,
                                   &attributesLength))) {
    names.push_back(Narrow(name, std::min<size_t>(static_cast<size_t>(nameLength), 511)));
    direction = SQL_FETCH_NEXT;
  }
  return names;
}

Statement::Statement(SQLHDBC dbc, std::string context) : context_(std::move(context)) {
  SQLHANDLE stmt = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
    throw DiagnosticError(SQL_HANDLE_DBC, dbc, context_);
  }
  stmt_ = Handle<SQL_HANDLE_STMT>(stmt);
}

Statement::Statement(const Connection& conn, std::string context)
    : Statement(conn.get(), std::move(context)) {
  watch_ = conn.Watch();
  if (conn.AnswerSeconds() > 0) {
    // Drivers that end statements themselves do it past this; others refuse
    // the attribute, and the watch stands alone.
    SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(conn.AnswerSeconds())), 0);
  }
}

Error NoAnswerError(const CallWatch& watch, const std::string& context) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(watch.Limit()).count();
  return Error(EngineError::kQueryTimeout, "ODBC--remote query timeout expired.",
               context + "\nthe server did not answer within " + std::to_string(seconds) +
                   " s; the connection was closed");
}

void Statement::Check(SQLRETURN rc) const {
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
    if (watch_ && watch_->CutOff()) throw NoAnswerError(*watch_, context_);
    throw DiagnosticError(SQL_HANDLE_STMT, stmt_.get(), context_);
  }
}

void Statement::ExecDirect(const std::string& sql) {
  WideString text = Widen(sql);
  Check(Run([&] {
    return SQLExecDirectW(stmt_.get(), text.data(), static_cast<SQLINTEGER>(text.size()));
  }));
}

void Statement::Prepare(const std::string& sql) {
  WideString text = Widen(sql);
  Check(Run(
      [&] { return SQLPrepareW(stmt_.get(), text.data(), static_cast<SQLINTEGER>(text.size())); }));
}

void Statement::Execute() {
  Check(Run([&] { return SQLExecute(stmt_.get()); }));
}

bool Statement::Fetch() {
  const SQLRETURN rc = Run([&] { return SQLFetch(stmt_.get()); });
  if (rc == SQL_NO_DATA) return false;
  Check(rc);
  return true;
}

SQLLEN Statement::RowCount() const {
  SQLLEN n = 0;
  Check(SQLRowCount(stmt_.get(), &n));
  return n;
}

namespace {

// The sockets in `after` that `before` does not hold.
std::vector<platform::SocketId> NewSockets(const std::vector<platform::SocketId>& before,
                                           std::vector<platform::SocketId> after) {
  std::erase_if(after, [&](const platform::SocketId& s) {
    return std::find(before.begin(), before.end(), s) != before.end();
  });
  return after;
}

}  // namespace

Connection::Connection(std::shared_ptr<Environment> env, const std::string& connect,
                       std::string shown, int answerSeconds)
    : env_(std::move(env)), shown_(std::move(shown)), answerSeconds_(answerSeconds) {
  SQLHANDLE dbc = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_->get(), &dbc))) {
    throw DiagnosticError(SQL_HANDLE_ENV, env_->get(), shown_);
  }
  dbc_ = Handle<SQL_HANDLE_DBC>(dbc);
  // A server that does not answer is given up on, not waited for forever.
  SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
  WideString text = Widen(connect);
  SQLWCHAR out[1024];
  SQLSMALLINT outLength = 0;
  // The sockets the driver opens for the connection are those new after it
  // (one thread makes connections: nothing else opens any meanwhile).
  const std::vector<platform::SocketId> before =
      answerSeconds > 0 ? platform::OpenSockets() : std::vector<platform::SocketId>{};
  const SQLRETURN rc =
      SQLDriverConnectW(dbc, nullptr, text.data(), static_cast<SQLSMALLINT>(text.size()), out, 1024,
                        &outLength, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) throw DiagnosticError(SQL_HANDLE_DBC, dbc, shown_);
  connected_ = true;
  if (answerSeconds > 0) {
    watch_ = std::make_shared<CallWatch>(std::chrono::seconds(answerSeconds),
                                         NewSockets(before, platform::OpenSockets()));
  }
}

Connection::~Connection() {
  if (!connected_) return;
  if (inTxn_) Run([&] { return SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK); });
  Run([&] { return SQLDisconnect(dbc_.get()); });
}

void Connection::Check(SQLRETURN rc, const std::string& context) const {
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
    if (watch_ && watch_->CutOff()) {
      throw NoAnswerError(*watch_, context.empty() ? shown_ : context);
    }
    throw DiagnosticError(SQL_HANDLE_DBC, dbc_.get(), context.empty() ? shown_ : context);
  }
}

std::string Connection::Info(SQLUSMALLINT what) const {
  SQLWCHAR text[256] = {};
  SQLSMALLINT length = 0;
  Check(SQLGetInfoW(dbc_.get(), what, text, sizeof text, &length), shown_);
  return Narrow(text, std::min<size_t>(static_cast<size_t>(length) / sizeof(SQLWCHAR), 255));
}

void Connection::ExecDirect(const std::string& sql) {
  Statement stmt(*this, shown_);
  stmt.ExecDirect(sql);
}

void Connection::BeginTrans() {
  Check(Run([&] {
          return SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT,
                                    reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
        }),
        shown_);
  inTxn_ = true;
}

void Connection::EndTrans(bool commit) {
  if (!inTxn_) return;
  inTxn_ = false;
  const SQLRETURN rc = Run(
      [&] { return SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), commit ? SQL_COMMIT : SQL_ROLLBACK); });
  const SQLRETURN back = Run([&] {
    return SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  });
  Check(rc, shown_);
  Check(back, shown_);
}

SQLULEN ArraySize(SQLHSTMT stmt, SQLINTEGER attribute, SQLULEN wanted) {
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, attribute, reinterpret_cast<SQLPOINTER>(wanted), 0))) {
    return 1;
  }
  SQLULEN size = 0;
  if (!SQL_SUCCEEDED(SQLGetStmtAttr(stmt, attribute, &size, 0, nullptr)) || size == 0) {
    SQLSetStmtAttr(stmt, attribute, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
    return 1;
  }
  return std::min(size, wanted);
}

}  // namespace sa::dbengine::odbc
