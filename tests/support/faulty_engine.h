// An engine wrapper that fails on purpose: it forwards every operation to a
// real engine and throws an engine error at the Nth operation it sees
// (counting database, record set and archive link operations alike), so
// tests can prove that a failure at any step loses nothing.
#pragma once

#include <memory>
#include <string>

#include "dbengine/engine.h"

namespace sa::testing {

class FaultyEngine : public dbengine::Engine {
 public:
  explicit FaultyEngine(std::unique_ptr<dbengine::Engine> real) : real_(std::move(real)) {}

  // Fails the `n`th operation from now on (1 = the next one); 0 never fails.
  void FailAt(long n) { failAt_ = n == 0 ? 0 : count_ + n; }
  // Operations seen so far.
  long Count() const { return count_; }
  // Only operations whose name contains this text count (empty: all).
  std::string only;

  std::unique_ptr<dbengine::Database> OpenDatabase(const std::string& path) override;
  std::unique_ptr<dbengine::Database> CreateDatabase(const std::string& path,
                                                     const std::string& locale,
                                                     int32_t options) override;

  // Counts one operation named `op`; throws when it is the one to fail.
  void Step(const char* op);

 private:
  std::unique_ptr<dbengine::Engine> real_;
  long count_ = 0;
  long failAt_ = 0;
};

}  // namespace sa::testing
