// Programs of the build run as children of kivo-bench.
#ifndef KIVO_BENCH_CHILD_PROCESS_H
#define KIVO_BENCH_CHILD_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace kivo::bench {

// The program `name` installed beside kivo-bench.
std::string program_beside_bench(const char* name);

// A child with its standard output sent to /dev/null and its standard error
// read by the bench.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads standard error up to the first line containing `text`; empty when
  // the child ends first.
  std::string error_line_with(const std::string& text);
  // Reads the rest of standard error and waits for the child; its exit
  // status, or -1 when it could not run or was killed.
  int wait();

 private:
  pid_t pid_ = -1;
  int error_ = -1;
  std::string pending_;
};

}  // namespace kivo::bench

#endif
