#include "HeaderParser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

using kivo::interp::parse_header;
using kivo::interp::ParsedHeader;
using kivo::interp::Type;

std::string read(const char* path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(HeaderParserTest, ReadsTheMonitorHeader) {
  ParsedHeader header = parse_header(read(KIVO_HEADER), "kivo.h");
  ASSERT_FALSE(header.error) << *header.error;
  ASSERT_EQ(header.functions.size(), 9u);
  const char* names[] = {"process_event", "process_histos", "mask_pixels",
                         "analysis",      "OM",             "print_status",
                         "reset_histos",  "set_verbose",    "set_refresh"};
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(header.functions[i].name, names[i]);
  const auto& histos = header.functions[1];
  EXPECT_EQ(histos.result, Type::Int);
  ASSERT_EQ(histos.parameters.size(), 1u);
  EXPECT_EQ(histos.parameters[0].type, Type::Float);
  EXPECT_EQ(histos.parameters[0].name, "thresh");
  EXPECT_EQ(histos.parameters[0].default_value->as_int(), 10);
  EXPECT_EQ(header.functions[2].parameters[0].default_value->as_int(), 5);
  EXPECT_EQ(header.functions[0].parameters[0].type, Type::EventPointer);
  EXPECT_FALSE(header.functions[7].parameters[0].default_value);
  EXPECT_EQ(header.functions[6].result, Type::Void);
}

TEST(HeaderParserTest, AcceptsCommentsAndSpacingVariants) {
  ParsedHeader header = parse_header(
      "/* block\n   comment */\n#ifndef G\n#define G 1\nclass Event;  // events\n"
      "int f(Event*e, const char * s,double x=-2.5e1);\nvoid g(void);\n#endif\n",
      "h.h");
  ASSERT_FALSE(header.error) << *header.error;
  ASSERT_EQ(header.functions.size(), 2u);
  EXPECT_DOUBLE_EQ(header.functions[0].parameters[2].default_value->as_double(), -25.0);
  EXPECT_EQ(header.functions[0].line, 6);
  EXPECT_TRUE(header.functions[1].parameters.empty());
}

TEST(HeaderParserTest, RejectsWhatItDoesNotUnderstandWithTheLine) {
  auto error_of = [](const std::string& text) {
    ParsedHeader header = parse_header(text, "h.h");
    return header.error.value_or("no error");
  };
  EXPECT_EQ(error_of("int f();\nstd::string g();\n"), "h.h:2: unexpected character ':'");
  EXPECT_EQ(error_of("long f();\n"), "h.h:1: unsupported result type 'long'");
  EXPECT_EQ(error_of("int f(Event* e);\n"), "h.h:1: unsupported parameter type 'Event'");
  EXPECT_EQ(error_of("int f(float t = 1, int v);\n"),
            "h.h:1: parameter 'v' needs a default after a defaulted one");
  EXPECT_EQ(error_of("int f(int\n  v);\n"), "h.h:1: declaration ends early");
  EXPECT_EQ(error_of("int f(int v = x);\n"), "h.h:1: default argument 'x' is not a number");
  EXPECT_EQ(error_of("int f();\nint f();\n"), "h.h:2: 'f' is declared twice");
  EXPECT_EQ(error_of("#include <x>\n"), "h.h:1: unexpected character '<'");
  EXPECT_EQ(error_of("#pragma once\n"), "h.h:1: unsupported preprocessor line");
  EXPECT_EQ(error_of("class A { };\n"), "h.h:1: unexpected character '{'");
  EXPECT_EQ(error_of("int f(); /* open\n"), "h.h: comment is never closed");
}

}  // namespace
