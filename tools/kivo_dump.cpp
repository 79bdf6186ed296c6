// kivo-dump: turns a stream file into the text form of its events.
#include <poll.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include "CommandLine.h"
#include "OutputFile.h"
#include "StreamReader.h"
#include "TextFormat.h"

namespace {

constexpr const char* kAbout =
    "usage: kivo-dump [-n COUNT] [-o OUTPUT] [INPUT [OUTPUT]]\n"
    "Reads a KIVO stream from INPUT (a file, or - for standard input, the default)\n"
    "and writes its events in the canonical text form to OUTPUT (a file, written\n"
    "atomically, or - for standard output, the default); kivo-pack turns it back\n"
    "into the same stream, less the inner file headers of streams joined by cat.\n"
    "Damaged records are reported on standard error and skipped. An event whose\n"
    "text loses something (a packet other than 2000, a sequence number kivo-pack\n"
    "would not give back; see docs/stream-format.md) is reported and written.\n";

constexpr const char* kNotes =
    "Exit status: 0 when every record was intact, 1 when some were rejected, an\n"
    "event cannot be written exactly in the text form or a file cannot be read or\n"
    "written, 2 on a usage error, also when OUTPUT is the INPUT file itself\n"
    "(through a link too).\n";

struct Arguments {
  kivo::eventio::FilterFiles files;
  long long limit = -1;
};

// The exit status when the command line ends the program, none when it goes on.
std::optional<int> parse_arguments(int argc, char** argv, Arguments& args) {
  kivo::eventio::CommandLine line("kivo-dump", kAbout, kNotes);
  line.add({"events", 'n', "COUNT", "stop after COUNT events",
            [&args](const std::string& text) { return kivo::eventio::read_count(text, args.limit); }});
  args.files.add_output_option(line);
  return args.files.parse_for_main(line, argc, argv);
}

void wait_for_input(const kivo::eventio::StreamReader& reader) {
  pollfd input{reader.poll_fd(), POLLIN, 0};
  if (input.fd >= 0) ::poll(&input, 1, -1);
}

// Packets with ids other than 2000 have no text.
std::string other_packets_loss(const kivo::eventio::StreamEvent& event) {
  const std::uint32_t count = event.other_packets();
  if (count == 0) return {};
  return std::to_string(count) + (count == 1 ? " packet" : " packets") +
         " with an id other than 2000 not written";
}

// kivo-pack numbers events by their position in the text, so a sequence number
// that differs from the position is lost. `shift` is sequence minus position
// of the event before: a gap or a restart is reported once, where it occurs,
// not again for every event that follows it.
std::string sequence_loss(std::uint32_t sequence, std::uint32_t position, std::uint32_t& shift) {
  const std::uint32_t previous = std::exchange(shift, sequence - position);
  if (shift == 0 || shift == previous) return {};
  return "sequence number not kept: the text form numbers this event " + std::to_string(position) +
         " and counts on from there";
}

// Reports each way in which the text of `event` differs from it; false if any.
bool report_losses(const kivo::eventio::StreamReader& reader, const kivo::eventio::StreamEvent& event,
                   const kivo::eventio::EventRecord& record, int current_run, std::uint32_t position,
                   std::uint32_t& shift) {
  bool exact = true;
  for (const std::string& loss : {kivo::eventio::text_form_loss(record, current_run), other_packets_loss(event),
                                  sequence_loss(record.sequence, position, shift)}) {
    if (loss.empty()) continue;
    std::fprintf(stderr, "kivo-dump: %s: event %u: %s\n", reader.path().c_str(), record.sequence, loss.c_str());
    exact = false;
  }
  return exact;
}

// Reads the whole stream, waiting on a pipe when no data has arrived yet, and
// writes its text form in pieces; the pending text is written before each wait,
// so a reader of the output sees every event that has arrived. Sets `exact` to
// false when an event does not fit the text form.
bool dump(kivo::eventio::StreamReader& reader, kivo::eventio::OutputFile& out, long long limit,
          bool& exact, std::string& error) {
  constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
  std::ostringstream text;
  const auto write_pending = [&] {
    const bool written = out.write(text.view(), error);
    text.str("");
    return written;
  };
  int current_run = 0;
  std::uint32_t shift = 0;
  for (long long count = 0; limit < 0 || count < limit; ++count) {
    auto event = reader.next_stream_event();
    while (!event && !reader.finished()) {
      if (!write_pending()) return false;
      wait_for_input(reader);
      event = reader.next_stream_event();
    }
    if (!event) break;
    const kivo::eventio::EventRecord record = event->record();
    const auto position = static_cast<std::uint32_t>(count);
    if (!report_losses(reader, *event, record, current_run, position, shift)) exact = false;
    kivo::eventio::write_text_record(text, record, current_run);
    if (text.view().size() >= kPieceBytes && !write_pending()) return false;
  }
  return write_pending();
}

}  // namespace

int main(int argc, char** argv) {
  kivo::eventio::remove_partial_output_on_signal();
  Arguments args;
  if (const std::optional<int> status = parse_arguments(argc, argv, args)) return *status;
  std::string error;
  auto reader = kivo::eventio::StreamReader::open(args.files.input, false, error);
  if (!reader) {
    std::fprintf(stderr, "kivo-dump: %s\n", error.c_str());
    return 1;
  }
  kivo::eventio::OutputFile out;
  if (args.files.output == "-") {
    out.open_standard_output();
  } else if (!out.open(args.files.output, error)) {
    std::fprintf(stderr, "kivo-dump: %s\n", error.c_str());
    return 1;
  }
  bool exact = true;
  if (!dump(*reader, out, args.limit, exact, error) || !out.commit(error)) {
    std::fprintf(stderr, "kivo-dump: %s\n", error.c_str());
    return 1;
  }
  return exact && reader->counters().records_rejected == 0 ? 0 : 1;
}
