#include "Options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <regex>
#include <vector>

namespace {

using kivo::host::Options;

bool parse(std::vector<const char*> arguments, Options& options, std::string& error) {
  arguments.insert(arguments.begin(), "kivo");
  return kivo::host::parse_options(static_cast<int>(arguments.size()), arguments.data(), options,
                                   error);
}

TEST(OptionsTest, KeepsStartupItemsInOrderAndStreams) {
  Options options;
  std::string error;
  ASSERT_TRUE(parse({"-b", "-e", "a()", "run1.kevt", "-x", "f.C", "-q", "-e", "b()", "--port",
                     "9000", "--bind", "0.0.0.0", "--plugin", "p.so", "--snapshot", "s.png", "--archive",
                     "runs", "-"},
                    options, error))
      << error;
  EXPECT_TRUE(options.batch);
  EXPECT_TRUE(options.quit);
  ASSERT_EQ(options.startup.size(), 3u);
  EXPECT_FALSE(options.startup[0].is_file);
  EXPECT_EQ(options.startup[0].text, "a()");
  EXPECT_TRUE(options.startup[1].is_file);
  EXPECT_EQ(options.startup[1].text, "f.C");
  EXPECT_EQ(options.startup[2].text, "b()");
  EXPECT_EQ(options.port, 9000);
  EXPECT_EQ(options.bind, "0.0.0.0");
  EXPECT_EQ(options.plugin, "p.so");
  EXPECT_EQ(options.snapshot, "s.png");
  EXPECT_EQ(options.archive, "runs");
  EXPECT_EQ(options.streams, (std::vector<std::string>{"run1.kevt", "-"}));
}

TEST(OptionsTest, DefaultsMatchTheDocumentedOnes) {
  Options options;
  std::string error;
  ASSERT_TRUE(parse({}, options, error));
  EXPECT_FALSE(options.batch);
  EXPECT_EQ(options.port, 8080);
  EXPECT_EQ(options.bind, "127.0.0.1");
  EXPECT_TRUE(std::regex_search(kivo::host::usage(), std::regex("--port N +web display port \\(default 8080\\)")));
}

TEST(OptionsTest, TakesTheDataQualityFiles) {
  Options options;
  std::string error;
  ASSERT_TRUE(parse({"--checks", "c.toml", "--quality-log=q.log", "--on-bad", "echo \"$KIVO_REASON\"",
                     "--reference", "ref.json", "run.kevt"},
                    options, error))
      << error;
  EXPECT_EQ(options.checks, "c.toml");
  EXPECT_EQ(options.quality_log, "q.log");
  EXPECT_EQ(options.on_bad, "echo \"$KIVO_REASON\"");
  EXPECT_EQ(options.reference, "ref.json");
  EXPECT_EQ(options.streams, (std::vector<std::string>{"run.kevt"}));
  EXPECT_FALSE(parse({"--checks"}, options, error));
}

// Short flags together, values in the same word, "--" before a stream whose
// name starts with '-'.
TEST(OptionsTest, TakesTheUsualSpellings) {
  Options options;
  std::string error;
  ASSERT_TRUE(parse({"-bq", "-eOM()", "--port=0", "--", "-odd.kevt"}, options, error)) << error;
  EXPECT_TRUE(options.batch && options.quit);
  ASSERT_EQ(options.startup.size(), 1u);
  EXPECT_EQ(options.startup[0].text, "OM()");
  EXPECT_EQ(options.port, 0);
  EXPECT_EQ(options.streams, (std::vector<std::string>{"-odd.kevt"}));
  Options help;
  ASSERT_TRUE(parse({"-b", "--help", "--bad"}, help, error));
  EXPECT_TRUE(help.help);
  Options version;
  ASSERT_TRUE(parse({"--version", "--bad"}, version, error));
  EXPECT_TRUE(version.version);
  Options listing;
  ASSERT_TRUE(parse({"--list-archive", "runs"}, listing, error));
  EXPECT_EQ(listing.list_archive, "runs");
}

TEST(OptionsTest, RejectsBadArgumentsNamingThem) {
  auto error_of = [](std::vector<const char*> arguments) {
    Options options;
    std::string error;
    EXPECT_FALSE(parse(arguments, options, error));
    return error;
  };
  EXPECT_EQ(error_of({"-e"}), "kivo: -e: needs a value (see kivo --help)");
  EXPECT_EQ(error_of({"--port", "80x"}), "kivo: --port: '80x' is not a port number from 0 to 65535 (see kivo --help)");
  EXPECT_EQ(error_of({"--port=70000"}),
            "kivo: --port: '70000' is not a port number from 0 to 65535 (see kivo --help)");
  EXPECT_EQ(error_of({"--verbose"}), "kivo: --verbose: unknown option (see kivo --help)");
  EXPECT_EQ(error_of({"-bz"}), "kivo: -z: unknown option (see kivo --help)");
  EXPECT_EQ(error_of({"--archive", ""}), "kivo: --archive: no directory given (see kivo --help)");
  EXPECT_EQ(error_of({"--list-archive="}), "kivo: --list-archive: no directory given (see kivo --help)");
  // civetweb would listen on every interface, or on a list of ports.
  for (std::string bad : {"256.0.0.0", "18089,127.0.0.1", "localhost"}) {
    EXPECT_EQ(error_of({"--bind", bad.c_str()}), "kivo: --bind: '" + bad +
                                                     "' is not a numeric IPv4 or IPv6 address such as 127.0.0.1 or "
                                                     "0.0.0.0 (see kivo --help)");
  }
}

// --name labels /metrics, the host name unless given; --metrics-token reads
// its token at once and refuses a file other users may read.
TEST(OptionsTest, TakesTheStandNameAndAPrivateMetricsToken) {
  char host[HOST_NAME_MAX + 1] = "";
  gethostname(host, sizeof host);
  Options defaults;
  std::string error;
  ASSERT_TRUE(parse({}, defaults, error)) << error;
  EXPECT_EQ(defaults.stand, host);
  EXPECT_EQ(defaults.access.metrics_token, "");

  char pattern[] = "/tmp/kivo-token-XXXXXX";
  const int fd = mkstemp(pattern);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string token = pattern;
  std::ofstream(token) << "s3cr3t-t0ken\n";
  chmod(token.c_str(), 0600);
  Options options;
  ASSERT_TRUE(parse({"--name", "hall B", "--metrics-token", token.c_str()}, options, error)) << error;
  EXPECT_EQ(options.stand, "hall B");
  EXPECT_EQ(options.access.metrics_token, "s3cr3t-t0ken");

  chmod(token.c_str(), 0644);
  EXPECT_FALSE(parse({"--metrics-token", token.c_str()}, options, error));
  EXPECT_EQ(error, "kivo: --metrics-token: " + token + ": other users may read or change it (mode 0644); make it private: chmod 600 " +
                       token + " (see kivo --help)");
  std::remove(token.c_str());
  EXPECT_FALSE(parse({"--name", ""}, options, error));
  EXPECT_EQ(error, "kivo: --name: the stand name is empty (see kivo --help)");
  EXPECT_FALSE(parse({"--name", "a\nb"}, options, error));
  EXPECT_EQ(error, "kivo: --name: the stand name holds a control character (see kivo --help)");
}

}  // namespace
