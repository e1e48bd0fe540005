#include "exception_text.h"

#include <gtest/gtest.h>

namespace {

struct UnprintableCase {
  const char* typeName;
  const char* text;
};

const UnprintableCase unprintableCases[] = {
    {"exceptions.ValueError", "<unprintable ValueError object>"},
    {"AppError", "<unprintable AppError object>"},
    {"a.b.Deep", "<unprintable Deep object>"},
    {"type", "<unprintable type object>"},
};

TEST(UnprintableText, NamesTheTypeAsPythonDoes) {
  for (const UnprintableCase& c : unprintableCases) {
    EXPECT_EQ(UnprintableText(c.typeName), c.text);
  }
}

}  // namespace
