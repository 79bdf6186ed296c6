// End-to-end runs of kivo against the stub monitor, whose commands print
// their names: the order of calls, the exit status and the interactive loop.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kivo_process.h"

namespace {

using kivo::test::Finished;
using kivo::test::LiveProcess;
using kivo::test::run_program;

std::vector<std::string> kivo_args(std::vector<std::string> extra) {
  std::vector<std::string> argv = {KIVO_BIN, "-b", "--plugin", STUB_PLUGIN};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return argv;
}

std::size_t count_lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::size_t occurrences(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

// Sends Ctrl-C until standard error shows `message`: until then kivo may not
// yet be where the test wants to interrupt it.
bool interrupt_until(LiveProcess& kivo, const std::string& message) {
  for (int attempt = 0; attempt < 150; ++attempt) {
    kivo.interrupt();
    if (kivo.wait_for_err(message, 200)) return true;
  }
  return false;
}

class StubSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { directory = kivo::test::temporary_directory(); }
  void TearDown() override { std::filesystem::remove_all(directory); }

  std::string file(const std::string& name, const std::string& content) {
    std::string path = directory + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string stream(const std::string& name, const std::string& text) {
    std::string path = directory + "/" + name;
    kivo::test::pack(text, path);
    return path;
  }

  std::string directory;
};

TEST_F(StubSessionTest, StartupCommandsRunInTheOrderGiven) {
  std::string commands = file("cmds.C", "// warm up\n\nOM();\nprocess_histos()\n");
  Finished run = run_program(
      kivo_args({"-q", "-e", "set_verbose(1);", "-x", commands, "-e", "mask_pixels();"}));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "pinit\nset_verbose 1\nOM\nprocess_histos 10\n(int) 7\nmask_pixels 5\n");
}

TEST_F(StubSessionTest, StartupCommandsRunBeforeTheRemainingEvents) {
  std::string events = stream("run.kevt",
                              "run 5\nevent\nhit 1 4 200 17\nevent nopacket\ntype 12\nevent\n");
  Finished run = run_program(kivo_args({"-q", "-e", "set_verbose(3);", "-e", "run(2)", "-e",
                                        "print_status();", "-e",
                                        "process_event(next_event());", events}));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "pinit\nset_verbose 3\n"
            "event type 9 run 5\nevent type 1 run 5\n(int) 2\n"
            "print_status after 2 events\n"
            "event type 1 run 5\n"
            "event type 12 run 5\nevent type 1 run 5\n");
}

TEST_F(StubSessionTest, InvalidStartupCommandsFailWithOneLineAndStop) {
  struct Case {
    const char* command;
    const char* error;
  };
  for (const Case& bad : {
           Case{"set_refresh()",
                "kivo: -e 'set_refresh()': column 1: set_refresh takes 1 argument, 0 given: void set_refresh(int r)\n"},
           Case{"mask_pixels(\"x\")",
                "kivo: -e 'mask_pixels(\"x\")': column 13: cannot convert const char* to float for parameter 'thresh' "
                "of int mask_pixels(float thresh = 5)\n"},
           Case{"nosuch(1)", "kivo: -e 'nosuch(1)': column 1: unknown command 'nosuch'\n"},
           Case{"OM(", "kivo: -e 'OM(': column 3: unbalanced parentheses: '(' is never closed\n"},
           Case{"next_event()", "kivo: -e 'next_event()': column 1: next_event: no event left in the sources\n"},
       }) {
    Finished run = run_program(kivo_args({"-q", "-e", bad.command, "-e", "OM()"}));
    EXPECT_EQ(run.status, 1) << bad.command;
    EXPECT_EQ(run.out, "pinit\n") << bad.command;
    EXPECT_EQ(run.err, bad.error);
  }
}

TEST_F(StubSessionTest, MonitorCommandAnsweringMinusOneFailsABatchRun) {
  Finished run = run_program(kivo_args({"-q", "-e", "mask_pixels(-1); OM()", "-e", "OM()"}));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "pinit\nmask_pixels -1\n");
  EXPECT_EQ(run.err, "kivo: -e 'mask_pixels(-1); OM()': column 1: mask_pixels failed (returned -1)\n");
}

TEST_F(StubSessionTest, SnapshotNameIsCheckedBeforeAnythingRuns) {
  Finished run = run_program(kivo_args({"-q", "--snapshot", "canvas.txt", "-e", "OM()"}));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "kivo: --snapshot: canvas.txt: the file name must end in .png or .svg (see kivo --help)\n");
}

TEST_F(StubSessionTest, CommandFileWithByteOrderMarkAndWindowsLineEnds) {
  std::string commands = file("cmds.C", "\xEF\xBB\xBFOM();\r\nprint_status(); // report\r\n");
  Finished run = run_program(kivo_args({"-q", "-x", commands}));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "pinit\nOM\nprint_status after 0 events\n");
}

TEST_F(StubSessionTest, BadLineInACommandFileIsNamedByFileAndLine) {
  std::string commands = file("cmds.C", "OM();\nset_verbose(\"3\")\nOM();\n");
  Finished run = run_program(kivo_args({"-q", "-x", commands}));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "pinit\nOM\n");
  EXPECT_EQ(run.err, "kivo: " + commands +
                         ":2: column 13: cannot convert const char* to int for parameter 'v' of "
                         "void set_verbose(int v)\n");
}

TEST_F(StubSessionTest, CommandFileThatCannotBeReadIsNamedWithTheReason) {
  Finished missing = run_program(kivo_args({"-q", "-x", directory + "/none.C", "-e", "OM()"}));
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "pinit\n");
  EXPECT_EQ(missing.err, "kivo: .x " + directory + "/none.C: No such file or directory\n");

  Finished folder = run_program(kivo_args({"-q", "-e", ".x " + directory, "-e", "OM()"}));
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.out, "pinit\n");
  EXPECT_EQ(folder.err, "kivo: .x " + directory + ": is a directory\n");

  // /proc/self/mem opens, but reading its first page fails (EIO).
  Finished unreadable = run_program(kivo_args({"-q", "-x", "/proc/self/mem", "-e", "OM()"}));
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_EQ(unreadable.err, "kivo: .x /proc/self/mem: line 1 cannot be read: Input/output error\n");
  EXPECT_EQ(run_program(kivo_args({}), ".x\n").err,
            "kivo: input: column 1: .x needs a FILE: .x FILE runs the commands of FILE\n");
}

// Neither a named pipe without a writer nor a device holds up the prompt:
// as a stream a named pipe is read once a writer comes, as a command file
// only regular files of sensible size and line length are taken.
TEST_F(StubSessionTest, SpecialFilesNeverFreezeThePrompt) {
  const std::string fifo = directory + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  LiveProcess kivo(kivo_args({"-e", "set_verbose(3)"}));
  kivo.write("open(\"" + fifo + "\")\n.x " + fifo + "\n.x /dev/zero\nsources()\n");
  ASSERT_TRUE(kivo.wait_for_err("events processed")) << kivo.err();
  EXPECT_NE(kivo.err().find(fifo + " (waiting for a writer): 0 events read"), std::string::npos) << kivo.err();
  EXPECT_NE(kivo.err().find("kivo: .x " + fifo + ": is a named pipe, not a command file\n"), std::string::npos);
  EXPECT_NE(kivo.err().find("kivo: .x /dev/zero: is a device, not a command file\n"), std::string::npos);
  EXPECT_TRUE(kivo.wait_for_err(fifo + ": named pipe without a writer; reading it once one opens it\n"));
  {
    std::ofstream writer(fifo, std::ios::binary);
    writer << kivo::test::read_file(stream("run.kevt", "run 3\nevent\n"));
  }
  ASSERT_TRUE(kivo.wait_for_out("event type 9 run 3\nevent type 1 run 3\n")) << kivo.err();
  kivo.write(".q\n");
  EXPECT_EQ(kivo.wait(), 0);
}

TEST_F(StubSessionTest, CommandFilesHaveTheLineAndSizeLimitsOfThePrompt) {
  const std::string long_line = file("long.C", "OM();\n" + std::string((1 << 20) + 1, ' ') + "OM();\nOM();\n");
  Finished overlong = run_program(kivo_args({"-q", "-x", long_line, "-e", "print_status()"}));
  EXPECT_EQ(overlong.status, 1);
  EXPECT_EQ(overlong.out, "pinit\nOM\n");
  EXPECT_EQ(overlong.err, "kivo: .x " + long_line + ": line 2 is longer than 1048576 bytes\n");

  const std::string huge = file("huge.C", "OM();\n");
  std::filesystem::resize_file(huge, (std::size_t{16} << 20) + 1);
  Finished large = run_program(kivo_args({"-q", "-x", huge}));
  EXPECT_EQ(large.status, 1);
  EXPECT_EQ(large.out, "pinit\n") << "nothing of it runs";
  EXPECT_EQ(large.err, "kivo: .x " + huge + ": is larger than 16 MiB, too large for a command file\n");
}

TEST_F(StubSessionTest, EventsProcessedAtThePromptCountInSources) {
  std::string events = stream("run.kevt", "run 5\nevent\nevent\n");
  Finished run = run_program(kivo_args({"-e", "stop()", events}),
                             "process_event(next_event());\nprocess_event(next_event()); run(1);\nsources()\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("3 events read, 0 records rejected\n3 events processed"), std::string::npos) << run.err;
}

// With the display on, the canvas is brought up to the last event when the
// data stop: after an end-run event, and at the end of the sources; a batch
// run (-b) redraws exactly as the monitor asks and no more.
TEST_F(StubSessionTest, DisplayRedrawsWhenTheDataStopAndBatchRunsDoNot) {
  const std::string ended = stream("ended.kevt", "run 5\nevent\nevent\nend 5\n");
  const std::string cut = stream("cut.kevt", "run 6\nevent\nevent nopacket\n");
  const std::vector<std::string> display = {KIVO_BIN, "--plugin", STUB_PLUGIN, "--port", "0", "-q", "-e",
                                            "set_verbose(3)"};
  std::vector<std::string> with_end = display;
  with_end.push_back(ended);
  Finished at_end = run_program(with_end);
  EXPECT_EQ(at_end.status, 0) << at_end.err;
  EXPECT_EQ(at_end.out, "pinit\nset_verbose 3\nevent type 9 run 5\nevent type 1 run 5\nevent type 1 run 5\n"
                        "event type 12 run 5\nOM\n");
  std::vector<std::string> without_end = display;
  without_end.push_back(cut);
  Finished cut_off = run_program(without_end);
  EXPECT_EQ(cut_off.status, 0) << cut_off.err;
  EXPECT_EQ(cut_off.out, "pinit\nset_verbose 3\nevent type 9 run 6\nevent type 1 run 6\nevent type 1 run 6\nOM\n");

  Finished batch = run_program(kivo_args({"-q", "-e", "set_verbose(3)", ended, cut}));
  EXPECT_EQ(batch.status, 0) << batch.err;
  EXPECT_EQ(batch.out.find("OM"), std::string::npos) << batch.out;
}

TEST_F(StubSessionTest, RefreshSecondsRefusesWhatIsNoNumberOfSeconds) {
  Finished command = run_program(kivo_args({"-q", "-e", "set_refresh_seconds(-2)"}));
  EXPECT_EQ(command.status, 1);
  EXPECT_EQ(command.err, "kivo: -e 'set_refresh_seconds(-2)': column 1: set_refresh_seconds: seconds must be 0 "
                         "(no refresh by time) or a positive number of seconds up to a year\n");
  Finished option = run_program(kivo_args({"-q", "--refresh-seconds", "soon"}));
  EXPECT_EQ(option.status, 2);
  EXPECT_EQ(option.err, "kivo: --refresh-seconds: 'soon' is not a number of seconds from 0 (none) to a year "
                        "(see kivo --help)\n");
  Finished fine = run_program(kivo_args({"-q", "--refresh-seconds", "2.5", "-e", "set_refresh_seconds(0)"}));
  EXPECT_EQ(fine.status, 0) << fine.err;
}

// A display bound to every interface is announced by addresses one can open,
// and without --auth with a warning that says what anyone reaching it gets.
TEST_F(StubSessionTest, DisplayOnEveryInterfaceNamesOpenableAddressesAndWarns) {
  const std::vector<std::string> display = {KIVO_BIN, "--plugin", STUB_PLUGIN, "-q", "--bind", "0.0.0.0", "--port", "0"};
  Finished open = run_program(display);
  EXPECT_EQ(open.status, 0) << open.err;
  EXPECT_NE(open.err.find("kivo: display at http://127.0.0.1:"), std::string::npos) << open.err;
  EXPECT_EQ(open.err.find("0.0.0.0:"), std::string::npos) << open.err;
  EXPECT_NE(open.err.find("kivo: warning: the display listens on 0.0.0.0 without --auth: anyone who reaches it "
                          "can read the monitoring canvas"),
            std::string::npos)
      << open.err;

  std::vector<std::string> locked = display;
  locked.insert(locked.end(), {"--auth", file("users", "operator:kivo:0123456789abcdef0123456789abcdef\n")});
  Finished clear_run = run_program(locked);
  EXPECT_EQ(clear_run.status, 0) << clear_run.err;
  EXPECT_NE(clear_run.err.find("kivo: warning: the display listens on 0.0.0.0 with --auth but without --tls: the "
                               "canvas and the counts cross the network readable by anyone on the way"),
            std::string::npos)
      << clear_run.err;

  const std::string key = directory + "/key.pem", certificate = directory + "/certificate.pem";
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -keyout '" + key +
                         "' -out '" + certificate + "' 2>/dev/null && cat '" + key + "' >> '" + certificate + "'")
                            .c_str()),
            0);
  locked.insert(locked.end(), {"--tls", certificate});
  Finished protected_run = run_program(locked);
  EXPECT_EQ(protected_run.status, 0) << protected_run.err;
  EXPECT_EQ(protected_run.err.find("warning"), std::string::npos) << protected_run.err;
}

TEST_F(StubSessionTest, UnusableAuthAndTlsFilesAreUsageErrors) {
  const std::string plain = file("plain", "operator:secret\n");
  Finished auth = run_program(kivo_args({"--auth", plain}));
  EXPECT_EQ(auth.status, 2);
  EXPECT_EQ(auth.err, "kivo: --auth: " + plain + ": line 1 is not 'user:realm:HA1' as htdigest writes it (see kivo --help)\n");
  Finished tls = run_program(kivo_args({"--tls", plain}));
  EXPECT_EQ(tls.status, 2);
  EXPECT_EQ(tls.err, "kivo: --tls: " + plain + ": no certificate in it (PEM, '-----BEGIN CERTIFICATE-----') (see kivo --help)\n");

  // A key of another certificate: refused before any event, not a display that does not start.
  const std::string key = directory + "/key.pem", certificate = directory + "/certificate.pem";
  const std::string other = directory + "/other.pem";
  ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
                         "/CN=localhost -keyout '" + key + "' -out '" + certificate + "' 2>/dev/null && openssl genpkey "
                         "-algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 >> '" + certificate + "'")
                            .c_str()),
            0);
  Finished mismatched = run_program(kivo_args({"-q", "--tls", certificate, stream("run.kevt", "run 1\nevent\n")}));
  EXPECT_EQ(mismatched.status, 2);
  EXPECT_EQ(mismatched.out, "") << "no event processed";
  EXPECT_EQ(mismatched.err, "kivo: --tls: " + certificate +
                                ": the private key does not belong to the certificate (see kivo --help)\n");
}

// With standard input closed, the stream would take descriptor 0 and the
// prompt would read it as commands, or poll a closed descriptor forever.
TEST_F(StubSessionTest, ClosedStandardInputEndsThePromptAtOnce) {
  std::string out = directory + "/out.txt";
  std::string command = "timeout 60 " + std::string(KIVO_BIN) + " -b --plugin " + STUB_PLUGIN +
                        " -e 'OM()' <&- >" + out + " 2>/dev/null";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "124: still waiting for input after a minute";
  EXPECT_EQ(kivo::test::read_file(out), "pinit\nOM\n(int) 0\n");
}

// Piped input that never ends its line must not grow without bound.
TEST_F(StubSessionTest, OverlongInputLinesAreDroppedWithOneMessage) {
  std::string endless(3 << 20, 'x');
  std::string long_but_whole = "OM();" + std::string(2 << 20, ' ') + "\n";
  Finished run = run_program(kivo_args({}), endless + "\nprint_status();\n" + long_but_whole);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "pinit\nprint_status after 0 events\n");
  EXPECT_EQ(run.err, "kivo: input: line longer than 1048576 bytes ignored\n"
                     "kivo: input: line longer than 1048576 bytes ignored\n");
}

TEST_F(StubSessionTest, LoadAndOpenFailuresGiveNonZeroStatus) {
  Finished no_plugin = run_program({KIVO_BIN, "-b", "-q", "--plugin", directory + "/none.so"});
  EXPECT_EQ(no_plugin.status, 1);
  EXPECT_NE(no_plugin.err.find("kivo: cannot load monitor library " + directory + "/none.so"),
            std::string::npos)
      << no_plugin.err;
  EXPECT_EQ(count_lines(no_plugin.err), 1u);

  Finished partial = run_program({KIVO_BIN, "-b", "-q", "--plugin", PARTIAL_PLUGIN});
  EXPECT_EQ(partial.status, 1);
  EXPECT_EQ(partial.out, "");
  const std::string lacking = "does not define process_event(Event*), kivo_evnts, kivo_refresh, "
                              "hnevnt, hchip, hnhit_chip, hdiffcol_chip, hdiffrow_chip, h2d_chip, "
                              "h2d_chip_norm, gmpos_chip, com, "
                              "kivo_norm_overview, kivo_norm_region, kivo_materialise_maps, "
                              "kivo_chip_hits, kivo_hot_cells, kivo_hit_sums, kivo_set_recent_window, kivo_recent_window, kivo_recent_blocks, kivo_copy_run, kivo_derive_run, "
                              "kivo_free_run, kivo_set_correlation_mask, kivo_lag_differences, "
                              "kivo_set_busy_rule, kivo_busy_events, kivo_set_hit_sink\n";
  EXPECT_EQ(partial.err, std::string("kivo: monitor library ") + PARTIAL_PLUGIN + " " + lacking);

  Finished no_stream = run_program(kivo_args({"-q", directory + "/missing.kevt"}));
  EXPECT_EQ(no_stream.status, 1);
  EXPECT_EQ(no_stream.out, "pinit\n");
  EXPECT_NE(no_stream.err.find(directory + "/missing.kevt"), std::string::npos);
  EXPECT_EQ(count_lines(no_stream.err), 1u);

  Finished bad_option = run_program({KIVO_BIN, "--port", "x"});
  EXPECT_EQ(bad_option.status, 2);
  EXPECT_EQ(bad_option.err, "kivo: --port: 'x' is not a port number from 0 to 65535 (see kivo --help)\n");
}

TEST_F(StubSessionTest, PluginGivenByBareFileNameIsFoundInTheWorkingDirectory) {
  std::filesystem::copy_file(STUB_PLUGIN, directory + "/libhere.so");
  std::string command = "cd " + directory + " && " + KIVO_BIN +
                        " -b -q --plugin libhere.so -e 'OM()' >out.txt 2>err.txt";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << kivo::test::read_file(directory + "/err.txt");
  EXPECT_EQ(kivo::test::read_file(directory + "/out.txt"), "pinit\nOM\n(int) 0\n");
}

TEST_F(StubSessionTest, SnapshotBeforeAnyCanvasIsRefused) {
  Finished run = run_program(kivo_args({"-q", "-e", "snapshot(\"" + directory + "/c.png\")"}));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "kivo: -e 'snapshot(\"" + directory + "/c.png\")': column 1: snapshot: " + directory +
                         "/c.png: no canvas has been drawn yet (OM() draws it)\n");
  EXPECT_FALSE(std::filesystem::exists(directory + "/c.png"));
}

// Commands from a pipe: Ctrl-C stops run() and, there being no line typed
// to drop, ends kivo as it ends a batch run (at a terminal it returns to the
// prompt: prompt_pty_test.cpp).
TEST_F(StubSessionTest, CtrlCStopsRunAndEndsAPromptReadingAPipe) {
  std::string growing = stream("growing.kevt", "run 1\nevent\n");
  LiveProcess kivo(kivo_args({"-e", "stop()", "-e", "set_verbose(3)"}));
  ASSERT_TRUE(kivo.wait_for_out("pinit\nset_verbose 3\n"));  // Ctrl-C is handled from here on
  kivo.write("follow(\"" + growing + "\")\nrun()\nOM();\n");
  const std::string events = "event type 9 run 1\nevent type 1 run 1\n";
  ASSERT_TRUE(kivo.wait_for_out("pinit\nset_verbose 3\n" + events));  // run() waits for more now
  ASSERT_TRUE(interrupt_until(kivo, "kivo: interrupted after 2 events\n")) << kivo.err();
  EXPECT_EQ(kivo.wait(), 130);
  EXPECT_EQ(kivo.out(), "pinit\nset_verbose 3\n" + events + "(int) 2\n") << "the line after it never runs";
}

// `run(); mask_pixels()` must not write masks from a run the operator stopped.
TEST_F(StubSessionTest, CtrlCEndsTheLineOfTheStoppedRun) {
  std::string growing = stream("growing.kevt", "run 1\nevent\n");
  const std::string start = "pinit\nset_verbose 3\nevent type 9 run 1\nevent type 1 run 1\n";
  LiveProcess kivo(kivo_args({"-e", "stop()", "-e", "set_verbose(3)"}));
  kivo.write("follow(\"" + growing + "\")\nrun(); mask_pixels()\n");
  ASSERT_TRUE(kivo.wait_for_out(start));  // run() waits for more now
  ASSERT_TRUE(interrupt_until(kivo, "kivo: interrupted after 2 events\n")) << kivo.err();
  EXPECT_EQ(kivo.wait(), 130);
  EXPECT_EQ(kivo.out(), start);
}

TEST_F(StubSessionTest, CtrlCDuringAStartupCommandEndsABatchRun) {
  std::string growing = stream("growing.kevt", "run 1\nevent\n");
  std::string commands = file("cmds.C", "run()\nOM()\n");
  LiveProcess kivo(kivo_args({"-q", "-e", "set_verbose(3)", "-e", "follow(\"" + growing + "\")", "-x", commands,
                              "-e", "print_status()"}));
  // Interrupted before both events are in, run() would end earlier.
  ASSERT_TRUE(kivo.wait_for_out("pinit\nset_verbose 3\nevent type 9 run 1\nevent type 1 run 1\n"));
  ASSERT_TRUE(interrupt_until(kivo, "kivo: interrupted after 2 events\n")) << kivo.err();
  EXPECT_EQ(kivo.wait(), 130);
  EXPECT_EQ(kivo.out(), "pinit\nset_verbose 3\nevent type 9 run 1\nevent type 1 run 1\n(int) 2\n")
      << "neither OM() nor print_status() runs";
}

// A source that never ends and holds no record: Ctrl-C still stops a batch
// run, and the prompt still takes commands while it is read in the background.
TEST_F(StubSessionTest, SourceWithoutRecordsLeavesKivoResponsive) {
  LiveProcess batch(kivo_args({"-q", "/dev/zero"}));
  ASSERT_TRUE(batch.wait_for_err("/dev/zero: offset 0: no stream file header"));  // run() reads it
  ASSERT_TRUE(interrupt_until(batch, "kivo: interrupted after 0 events\n")) << batch.err();
  EXPECT_EQ(batch.wait(), 130);
  EXPECT_EQ(run_program(kivo_args({"/dev/zero"}), "OM();\n.q\n").out, "pinit\nOM\n");
}

TEST_F(StubSessionTest, StandardInputCarriesEitherEventsOrCommands) {
  std::string events = kivo::test::read_file(stream("run.kevt", "run 5\nevent\n"));
  Finished piped = run_program(kivo_args({"-e", "set_verbose(3);", "-"}), events);
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "pinit\nset_verbose 3\nevent type 9 run 5\nevent type 1 run 5\n");

  Finished typed = run_program(kivo_args({}), "open(\"-\")\n");
  EXPECT_EQ(typed.status, 0);
  EXPECT_EQ(typed.err,
            "kivo: input: column 1: open: standard input carries the commands; give - as a STREAM "
            "with -q\n");
}

TEST_F(StubSessionTest, QuitFromAStartupCommandSkipsTheEvents) {
  std::string events = stream("run.kevt", "run 5\nevent\n");
  Finished run = run_program(kivo_args({"-e", "set_verbose(3);", "-e", ".q", events}));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "pinit\nset_verbose 3\n");
}

TEST_F(StubSessionTest, PromptOverAPipeRunsLinesAndQuitsAtEndOfInput) {
  std::string events = stream("run.kevt", "run 5\nevent\nevent\n");
  Finished run = run_program(kivo_args({"-e", "stop()", events}),
                             "set_verbose(3);\nrun(2)\nbad(\nsources()\nhelp()\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "pinit\nset_verbose 3\nevent type 9 run 5\nevent type 1 run 5\n(int) 2\n");
  EXPECT_NE(run.err.find("kivo: input: column 4: unbalanced parentheses"), std::string::npos);
  EXPECT_NE(run.err.find(events + " (reading): 2 events read, 0 records rejected"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("  int process_histos(float thresh = 10)\n"), std::string::npos);
  EXPECT_NE(run.err.find("  int run(int n = 0)"), std::string::npos);
  EXPECT_NE(run.err.find(std::string("mask directory: ") + KIVO_MASK_DIR), std::string::npos);
  EXPECT_NE(run.err.find("display: off"), std::string::npos);
}

// Lines piped in after .q arrive in the same read but must not run.
TEST_F(StubSessionTest, NothingRunsAfterQuit) {
  Finished run = run_program(kivo_args({}), "OM();\n.q\nprint_status()\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "pinit\nOM\n");
}

// The stream grows while kivo runs in the background; a command typed in
// between changes how the following events are processed.
TEST_F(StubSessionTest, BackgroundProcessingOfAGrowingFileTakesCommandsBetweenEvents) {
  std::string first_text = "run 7\nevent\nevent\n";
  std::string whole_text = first_text + "event\nhit 2 1 5 6\nevent\n";
  std::string first = stream("first.kevt", first_text);
  std::string whole = stream("whole.kevt", whole_text);
  std::string first_bytes = kivo::test::read_file(first);
  std::string whole_bytes = kivo::test::read_file(whole);
  ASSERT_EQ(whole_bytes.compare(0, first_bytes.size(), first_bytes), 0);

  std::string growing = file("growing.kevt", first_bytes);
  LiveProcess kivo(kivo_args({}));
  kivo.write("follow(\"" + growing + "\")\n");
  bool seen = false;
  for (int attempt = 0; attempt < 150 && !seen; ++attempt) {
    kivo.write("sources()\n");
    seen = kivo.wait_for_err("3 events read", 200);
  }
  ASSERT_TRUE(seen) << kivo.err();
  kivo.write("set_verbose(3);\n");
  ASSERT_TRUE(kivo.wait_for_out("set_verbose 3\n"));
  std::ofstream(growing, std::ios::binary | std::ios::app) << whole_bytes.substr(first_bytes.size());
  ASSERT_TRUE(kivo.wait_for_out("event type 1 run 7\nevent type 1 run 7\n")) << kivo.out();
  kivo.write("stop()\n.q\n");
  EXPECT_EQ(kivo.wait(), 0);
  EXPECT_EQ(kivo.out(), "pinit\nset_verbose 3\nevent type 1 run 7\nevent type 1 run 7\n");
  EXPECT_EQ(occurrences(kivo.err(), "following"), occurrences(kivo.err(), "events read"));
}

// A followed file deleted under kivo is said once and shown in sources().
TEST_F(StubSessionTest, ADeletedFollowedFileIsSaidOnceAndShownInSources) {
  std::string growing = file("growing.kevt", kivo::test::read_file(stream("first.kevt", "run 7\nevent\n")));
  LiveProcess kivo(kivo_args({}));
  kivo.write("follow(\"" + growing + "\")\nsources()\n");
  ASSERT_TRUE(kivo.wait_for_err(growing + " (following): ")) << kivo.err();
  std::filesystem::remove(growing);
  ASSERT_TRUE(kivo.wait_for_err(growing + ": file deleted or moved away")) << kivo.err();
  kivo.write("sources()\n");
  ASSERT_TRUE(kivo.wait_for_err(growing + " (following, file deleted): 2 events read")) << kivo.err();
  kivo.write("stop()\n.q\n");
  EXPECT_EQ(kivo.wait(), 0);
  EXPECT_EQ(occurrences(kivo.err(), "file deleted or moved away"), 1u) << kivo.err();
}

}  // namespace
