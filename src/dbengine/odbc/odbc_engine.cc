#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/odbc_engine.h"

#include <odbcinst.h>

#include <optional>
#include <utility>

#include "core/error.h"
#include "dbengine/file_kind.h"
#include "dbengine/odbc/catalog.h"
#include "dbengine/odbc/connection_string.h"
#include "dbengine/odbc/driver_family.h"
#include "dbengine/odbc/odbc_database.h"
#include "dbengine/odbc/odbc_handle.h"

namespace sa::dbengine {

namespace odbc {

namespace {

// The language id of the general sort order, the only one archives are made with.
constexpr int32_t kGeneralSortOrderId = 0x0409;

class OdbcEngine : public Engine {
 public:
  OdbcEngine(platform::FileSystem& fs, std::unique_ptr<Engine> archiveEngine, OdbcOptions options)
      : fs_(fs),
        env_(std::make_shared<Environment>()),
        archiveEngine_(std::move(archiveEngine)),
        options_(std::move(options)) {}

  std::unique_ptr<Database> OpenDatabase(const std::string& path) override {
    if (const auto connect = ConnectionStringOf(path)) return Connect(*connect);
    // A file in the archives' own format is one of them: it opens with the
    // engine that makes them.
    if (archiveEngine_ && KindOfFile(fs_, path) == FileKind::kSqlite) {
      return archiveEngine_->OpenDatabase(path);
    }
    auto family = FileFamily(path);
    const auto drivers = env_->Drivers();
    const auto driver = family->FileDriver(drivers);
    if (!driver) {
      throw Error(EngineError::kNoDriver, "No installed ODBC driver reads this database format.",
                  path + ": a " + family->Name() + " database");
    }
    const std::string connect = "Driver={" + *driver + "};Dbq=" + platform::PathForDriver(path) +
                                ";Database=" + platform::PathForDriver(path) + ";" +
                                family->FileConnectAttributes(Waits());
    // Archives made without an archive engine take the format of the first
    // file opened: the live database's.
    if (!fileFamily_) fileFamily_ = std::move(family);
    return Connect(connect);
  }

  std::unique_ptr<Database> CreateDatabase(const std::string& path, const std::string& locale,
                                           int32_t options) override {
    if (archiveEngine_) return archiveEngine_->CreateDatabase(path, locale, options);
    if (locale != kLangGeneral || options != kVersion40) {
      throw Error(EngineError::kInvalidArgument, "Invalid locale or options argument.", locale);
    }
    // Files of the live database's format, made by its driver: through its
    // setup entry, or by connecting to the new file's name.
    const std::unique_ptr<DriverFamily> jet = fileFamily_ ? nullptr : JetFamily();
    const DriverFamily& family = fileFamily_ ? *fileFamily_ : *jet;
    const auto driver = family.FileDriver(env_->Drivers());
    if (!driver) {
      throw Error(EngineError::kNoDriver, "No installed ODBC driver creates this database format.",
                  path);
    }
    if (family.CreatesFileOnConnect()) {
      if (fs_.Exists(path)) {
        throw Error(EngineError::kDatabaseExists, "Database already exists.", path);
      }
      const std::string file = platform::PathForDriver(path);
      Connection conn(
          env_,
          "Driver={" + *driver + "};Database=" + file + ";" + family.FileConnectAttributes(Waits()),
          path);
      for (const std::string& sql : family.NewFileStatements(kGeneralSortOrderId, options)) {
        conn.ExecDirect(sql);
      }
      return OpenDatabase(path);
    }
    WideString attributes = Widen(family.CreateFileAttributes(path));
    attributes.push_back(0);
    attributes.push_back(0);
    const WideString name = Widen(*driver) + WideString(1, 0);
    if (!SQLConfigDataSourceW(nullptr, ODBC_ADD_DSN, name.data(), attributes.data())) {
      throw Error(EngineError::kInvalidPath, "The database file cannot be created.", path);
    }
    return OpenDatabase(path);
  }

 private:
  std::unique_ptr<DriverFamily> FileFamily(const std::string& path) {
    const std::optional<FileKind> kind = KindOfFile(fs_, path);
    if (!kind && !fs_.Exists(path)) {
      throw Error(EngineError::kFileNotFound, "Could not find file.", path);
    }
    if (!kind) {
      throw Error(EngineError::kInvalidPath, "Not a database file.",
                  path + ": a folder or a device");
    }
    switch (*kind) {
      case FileKind::kJet:
        return JetFamily();
      case FileKind::kSqlite:
        return SqliteFamily();
      case FileKind::kOther:
        break;
    }
    throw Error(EngineError::kUnrecognizedFormat, "Unrecognized database format.", path);
  }

  std::unique_ptr<Database> Connect(const std::string& connect) {
    auto conn =
        std::make_unique<Connection>(env_, connect, MaskSecrets(connect), options_.answerSeconds);
    const std::string quote = conn->Info(SQL_IDENTIFIER_QUOTE_CHAR);
    auto family = options_.family.empty() ? FamilyForDbms(conn->Info(SQL_DBMS_NAME), quote)
                                          : FamilyNamed(options_.family, quote);
    if (!family) {
      throw Error(EngineError::kInvalidArgument, "No such driver family.", options_.family);
    }
    auto src = std::make_shared<Source>(std::move(conn), std::move(family), Waits());
    // Without an archive engine, archives are files this engine makes and opens.
    Engine* archives = archiveEngine_ ? archiveEngine_.get() : this;
    return std::make_unique<OdbcDatabase>(std::move(src), archives);
  }

  platform::FileSystem& fs_;
  std::shared_ptr<Environment> env_;
  std::unique_ptr<Engine> archiveEngine_;
  odbc::Waits Waits() const { return {options_.lockSeconds, options_.answerSeconds}; }

  std::unique_ptr<DriverFamily> fileFamily_;  // of the first file opened
  OdbcOptions options_;
};

}  // namespace

}  // namespace odbc

std::unique_ptr<Engine> MakeOdbcEngine(platform::FileSystem& fs,
                                       std::unique_ptr<Engine> archiveEngine, OdbcOptions options) {
  return std::make_unique<odbc::OdbcEngine>(fs, std::move(archiveEngine), std::move(options));
}

}  // namespace sa::dbengine
