// RAII over the ODBC C API for the ODBC backend: the environment, a
// connection and its statements, UTF-8 <-> UTF-16 text for the wide entry
// points (the only ones called), and the one conversion of a driver's
// diagnostics into the engine's error.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "dbengine/odbc/call_watch.h"

namespace sa::dbengine::odbc {

using WideString = std::basic_string<SQLWCHAR>;

WideString Widen(std::string_view utf8);
std::string Narrow(const SQLWCHAR* text, size_t length);
inline std::string Narrow(const WideString& text) { return Narrow(text.data(), text.size()); }

// The error for a failed call on `handle`: the first diagnostic record's
// SQLSTATE and text, with the native code in the cause after `context`.
// Connection failures, lost connections and constraint or conversion states
// map to the engine's numbers; everything else is a syntax/driver error.
Error DiagnosticError(SQLSMALLINT handleType, SQLHANDLE handle, const std::string& context);

// The SQLSTATE of the first diagnostic record, "" when there is none.
std::string DiagnosticState(SQLSMALLINT handleType, SQLHANDLE handle);

// Owns one handle of `Type` and frees it on every path.
template <SQLSMALLINT Type>
class Handle {
 public:
  Handle() = default;
  explicit Handle(SQLHANDLE h) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = SQL_NULL_HANDLE; }
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = o.h_;
      o.h_ = SQL_NULL_HANDLE;
    }
    return *this;
  }
  SQLHANDLE get() const { return h_; }
  void Reset() {
    if (h_ != SQL_NULL_HANDLE) SQLFreeHandle(Type, h_);
    h_ = SQL_NULL_HANDLE;
  }

 private:
  SQLHANDLE h_ = SQL_NULL_HANDLE;
};

// The process's ODBC environment (version 3 behaviour).
class Environment {
 public:
  Environment();
  SQLHENV get() const { return env_.get(); }
  // The installed drivers' names, as the driver manager lists them.
  std::vector<std::string> Drivers() const;

 private:
  Handle<SQL_HANDLE_ENV> env_;
};

class Connection;

// A statement on a connection; closed and freed with the object.
class Statement {
 public:
  Statement(SQLHDBC dbc, std::string context);
  // One of `conn`'s statements: the driver ends a statement that runs past
  // the connection's answer limit (its query timeout), and the connection's
  // watch cuts off a call that still has not returned.
  Statement(const Connection& conn, std::string context);
  SQLHSTMT get() const { return stmt_.get(); }
  // Throws the statement's diagnostic unless `rc` is a success; a call the
  // watch cut off throws EngineError::kQueryTimeout.
  void Check(SQLRETURN rc) const;
  // Makes a driver call that may wait on the server, under the watch.
  template <class Call>
  SQLRETURN Run(Call&& call) const {
    return watch_ ? watch_->Run(std::forward<Call>(call)) : call();
  }
  void ExecDirect(const std::string& sql);
  void Prepare(const std::string& sql);
  void Execute();
  // false at the end of the result set.
  bool Fetch();
  SQLLEN RowCount() const;
  const std::string& Context() const { return context_; }
  // Frees the handle now, before its connection goes; the statement is of no
  // further use.
  void Free() { stmt_.Reset(); }

 private:
  Handle<SQL_HANDLE_STMT> stmt_;
  std::string context_;
  std::shared_ptr<CallWatch> watch_;
};

// One connection; disconnected and freed with the object. Manual-commit mode
// is switched on and off by BeginTrans/EndTrans.
class Connection {
 public:
  // `shown` is the connection string as messages may show it (secrets masked).
  // With `answerSeconds`, no call on the connection waits longer than that
  // for the server (see CallWatch; the driver's query timeout besides).
  Connection(std::shared_ptr<Environment> env, const std::string& connect, std::string shown,
             int answerSeconds = 0);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  SQLHDBC get() const { return dbc_.get(); }
  const std::string& Shown() const { return shown_; }
  void Check(SQLRETURN rc, const std::string& context) const;
  std::string Info(SQLUSMALLINT what) const;

  void ExecDirect(const std::string& sql);
  void BeginTrans();
  void EndTrans(bool commit);
  bool InTransaction() const { return inTxn_; }
  int AnswerSeconds() const { return answerSeconds_; }
  const std::shared_ptr<CallWatch>& Watch() const { return watch_; }

 private:
  template <class Call>
  SQLRETURN Run(Call&& call) const {
    return watch_ ? watch_->Run(std::forward<Call>(call)) : call();
  }

  std::shared_ptr<Environment> env_;
  Handle<SQL_HANDLE_DBC> dbc_;
  std::string shown_;
  bool connected_ = false;
  bool inTxn_ = false;
  int answerSeconds_ = 0;
  std::shared_ptr<CallWatch> watch_;
};

// Rows asked for per fetch and per execution of an array of parameters;
// drivers may take fewer.
inline constexpr SQLULEN kRowsPerCall = 256;
// Asks for `wanted` rows per call through the array attribute `attribute`
// (SQL_ATTR_ROW_ARRAY_SIZE, SQL_ATTR_PARAMSET_SIZE); returns what the driver
// took (1 when it takes no arrays).
SQLULEN ArraySize(SQLHSTMT stmt, SQLINTEGER attribute, SQLULEN wanted);

// The error of a call the watch cut off, after `context`.
Error NoAnswerError(const CallWatch& watch, const std::string& context);

}  // namespace sa::dbengine::odbc
