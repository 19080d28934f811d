// Whether a live record's values fit the fields of its archive table, as a
// move converts them: the dry run reads every record of a run it expects to
// move, so that a run the archive would refuse is shown staying live.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/schema.h"
#include "core/error.h"
#include "dbengine/engine.h"

namespace sa::run {

class ArchiveFit {
 public:
  // The fit of `rs`'s records (of live table `table`, in the live database
  // shown as `liveName`) to its archive table; nullopt for a table no
  // archive holds.
  static std::optional<ArchiveFit> For(const std::string& table, const dbengine::Recordset& rs,
                                       bool livestockEnabled, const std::string& liveName);

  // A field the live table lacks refuses every run of it.
  const std::optional<Error>& Missing() const { return missing_; }
  // Why the archive would refuse the current record, if it would.
  std::optional<Error> Refusal(dbengine::Recordset& rs) const;

 private:
  ArchiveFit(const archive::TableSpec& layout, const dbengine::Recordset& rs,
             const std::string& table, const std::string& liveName);

  struct Field {
    int index;
    const archive::FieldSpec* layout;
    std::string name;
  };
  std::vector<Field> fields_;
  std::optional<Error> missing_;
};

}  // namespace sa::run
