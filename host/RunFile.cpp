#include "RunFile.h"

#include <filesystem>
#include <utility>

#include "OutputFile.h"
#include "RootFileWriter.h"

namespace kivo::host {

namespace {

// The file's bytes go straight to the temporary of an OutputFile.
class OutputFileSink : public rootcompat::FileSink {
 public:
  explicit OutputFileSink(eventio::OutputFile& file) : file_(file) {}
  bool WriteAt(Long64_t offset, std::string_view bytes) override {
    return file_.write_at(static_cast<std::uint64_t>(offset), bytes, error_);
  }
  const std::string& error() const { return error_; }

 private:
  eventio::OutputFile& file_;
  std::string error_;
};

// The whole file into `file`'s temporary; false with `error`.
bool write_objects(eventio::OutputFile& file, const std::string& title, const ObjectSource& source,
                   long long& bytes, std::string& error) {
  OutputFileSink sink(file);
  rootcompat::FileWriter writer(sink, std::filesystem::path(file.path()).filename().string(), title);
  const auto fail = [&] {
    error = sink.error().empty() ? file.path() + ": " + writer.Error() : sink.error();
    return false;
  };
  if (!writer.Start()) return fail();
  bool written = true;
  const AddObject add = [&](rootcompat::StreamedObject object, std::string&) {
    written = writer.WriteKey(std::move(object));
    return written;
  };
  std::string source_error;
  if (!source(add, source_error)) {
    if (!written) return fail();
    error = source_error;
    return false;
  }
  if (!writer.Finish()) return fail();
  bytes = writer.End();
  return true;
}

}  // namespace

std::string write_new_run_file(const std::function<std::string()>& free_path, const std::string& title,
                               const ObjectSource& source, long long& bytes, std::string& error) {
  eventio::OutputFile file;
  std::string path = free_path();
  if (!file.open(path, error, eventio::OutputFile::SpecialFiles::refuse) ||
      !write_objects(file, title, source, bytes, error)) {
    error = "cannot write " + error;
    return {};
  }
  file.make_durable();
  for (;;) {
    bool taken = false;
    if (file.commit_as_new(error, taken)) return path;
    if (!taken) {
      error = "cannot write " + error;
      return {};
    }
    path = free_path();
    file.retarget(path);
  }
}

}  // namespace kivo::host
