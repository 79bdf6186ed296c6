// The generated dictionary, loaded as the host loads a monitor library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Evaluator.h"
#include "Registry.h"

namespace {

using kivo::interp::Command;
using kivo::interp::Evaluator;
using kivo::interp::Registry;
using kivo::interp::Type;

const std::vector<std::string> kHeaderOrder = {
    "process_event", "process_histos", "mask_pixels",  "analysis",   "OM",
    "print_status",  "reset_histos",   "set_verbose",  "set_refresh"};

std::vector<std::string> dictionary_names() {
  std::vector<std::string> names;
  for (const Command* command : Registry::global().commands_of("kivo_dict")) {
    names.push_back(command->name);
  }
  return names;
}

std::vector<std::string> signatures() {
  std::vector<std::string> lines;
  for (const Command* command : Registry::global().commands_of("kivo_dict")) {
    lines.push_back(kivo::interp::signature(*command));
  }
  return lines;
}

std::string library_name(const ::testing::TestParamInfo<const char*>&) { return "library"; }

class DictionaryTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dictionary_names().empty());
    handle = dlopen(GetParam(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle) dlclose(handle);
  }
  void* handle = nullptr;
};

TEST_P(DictionaryTest, RegistersTheNineCommandsInHeaderOrder) {
  EXPECT_EQ(dictionary_names(), kHeaderOrder);
  EXPECT_EQ(Registry::global().commands().size(), kHeaderOrder.size());
  EXPECT_EQ(signatures(), (std::vector<std::string>{
                              "int process_event(Event* e)",
                              "int process_histos(float thresh = 10)",
                              "int mask_pixels(float thresh = 5)", "int analysis()", "int OM()",
                              "int print_status()", "void reset_histos()",
                              "void set_verbose(int v)", "void set_refresh(int r)"}));
  for (const char* absent : {"pinit", "decode_row", "decode_col"}) {
    EXPECT_EQ(Registry::global().find(absent), nullptr) << absent;
  }
}

TEST_P(DictionaryTest, UnloadRemovesTheCommands) {
  ASSERT_EQ(dlclose(handle), 0);
  handle = nullptr;
  // The loader may keep a library mapped (unique symbols, sanitizer runtimes);
  // its static destructors, and so the removal, then wait for process exit.
  if (void* kept = dlopen(GetParam(), RTLD_NOW | RTLD_NOLOAD)) {
    dlclose(kept);
    GTEST_SKIP() << "the dynamic loader kept " << GetParam() << " loaded";
  }
  EXPECT_TRUE(dictionary_names().empty());
  EXPECT_EQ(Registry::global().find("process_histos"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Probe, DictionaryTest, ::testing::Values(PROBE_LIBRARY), library_name);
INSTANTIATE_TEST_SUITE_P(Monitor, DictionaryTest, ::testing::Values(MONITOR_LIBRARY), library_name);

// The probe's commands return their threshold times ten, so the results
// show which default the dictionary supplied and how arguments converted.
class ProbeCallsTest : public DictionaryTest {};

TEST_P(ProbeCallsTest, DefaultsAndConversionsReachTheFunctions) {
  Evaluator evaluator(Registry::global());
  EXPECT_EQ(evaluator.evaluate("process_histos()").value.as_int(), 100);
  EXPECT_EQ(evaluator.evaluate("process_histos(2.5)").value.as_int(), 25);
  EXPECT_EQ(evaluator.evaluate("mask_pixels()").value.as_int(), 50);
  EXPECT_EQ(evaluator.evaluate("mask_pixels(1)").value.as_int(), 10);
  ASSERT_TRUE(evaluator.evaluate("set_verbose(3.7);").ok());
  EXPECT_EQ(*static_cast<int*>(dlsym(handle, "probe_verbose")), 3);
  EXPECT_EQ(evaluator.evaluate("reset_histos()").value.type(), Type::Void);
}

TEST_P(ProbeCallsTest, BadLinesChangeNothing) {
  Evaluator evaluator(Registry::global());
  int* refresh = static_cast<int*>(dlsym(handle, "probe_refresh"));
  ASSERT_TRUE(evaluator.evaluate("set_refresh(7)").ok());
  for (const char* line : {"set_refresh()", "set_refresh(\"x\")", "set_refresh(1", "set_refreshh(1)",
                           "set_refresh(1))", "mask_pixels(\"x\")"}) {
    EXPECT_FALSE(evaluator.evaluate(line).ok()) << line;
  }
  EXPECT_EQ(*refresh, 7);
}

INSTANTIATE_TEST_SUITE_P(Probe, ProbeCallsTest, ::testing::Values(PROBE_LIBRARY), library_name);

}  // namespace
