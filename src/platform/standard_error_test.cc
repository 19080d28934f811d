#include "platform/standard_error.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace sa::platform {
namespace {

// What was written to a temporary file standing in for standard error.
class Written {
 public:
  Written() : file_(std::tmpfile()) {}
  ~Written() { std::fclose(file_); }
  std::FILE* get() const { return file_; }
  std::string Text() const {
    std::rewind(file_);
    std::string text;
    for (int c; (c = std::fgetc(file_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  std::FILE* file_;
};

TEST(StandardErrorTest, AMessageDuringTheBarStartsOnItsOwnLine) {
  Written out;
  StandardError err(out.get());
  err.Bar("[##  ] 50%");
  err.Message("The disk is full.", "S/202401.mdb\nno room");
  err.Bar("[####] 100%");
  err.EndBar();
  err.EndBar();  // an ended bar is not ended twice
  err.Message("next", "");
  EXPECT_EQ(out.Text(),
            "\r[##  ] 50%\nThe disk is full.\nS/202401.mdb\nno room\n\r[####] 100%\nnext\n");
}

TEST(StandardErrorTest, AMessageIsOneLineAndItsCauseFollows) {
  Written out;
  StandardError err(out.get());
  err.Message("two\r\nlines", "a\r\nb");
  EXPECT_EQ(out.Text(), "two lines\na\nb\n");
}

}  // namespace
}  // namespace sa::platform
