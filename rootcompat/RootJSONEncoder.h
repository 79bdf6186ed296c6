// The byte level of ROOT JSON: members, numbers, strings, objects and numeric
// arrays written straight into an output string, knowing nothing of ROOT's
// classes (RootJSON.cpp holds their schema). Numbers take their shortest
// round-trip form; JSON has no NaN or infinity, so NaN becomes 0 and an
// infinity the largest double. Numeric arrays of six or more elements use
// JSROOT's "$arr" form: zero runs are skipped, runs of more than five equal
// values become a value and a count, and a dense array is base64 of its bytes.
// An array of whole counts may travel as the narrowest unsigned integer type
// that holds them: when dense, base64 of those, a quarter or half of a
// Float32's bytes, or their digits where those are shorter.
#ifndef ROOTCOMPAT_ROOTJSONENCODER_H
#define ROOTCOMPAT_ROOTJSONENCODER_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace rootcompat {

class JSONEncoder {
 public:
  // Appends everything written to out when destroyed, in one copy.
  explicit JSONEncoder(std::string& out);
  ~JSONEncoder();
  JSONEncoder(const JSONEncoder&) = delete;
  JSONEncoder& operator=(const JSONEncoder&) = delete;

  // {"_typename":"type" ... }
  void Begin(std::string_view type);
  void End();

  // ,"key": before a value written next.
  void Key(std::string_view key);
  // ,"key":value members.
  void Num(std::string_view key, float v);
  void Num(std::string_view key, double v);
  void Int(std::string_view key, long long v);
  void Bool(std::string_view key, bool v);
  void Null(std::string_view key);
  void Str(std::string_view key, std::string_view s);
  void EmptyArray(std::string_view key);

  // Values: a quoted, escaped string; [a0,a1,...]; a "$arr" object (Float32
  // or Float64) or, under six elements, a plain array.
  void String(std::string_view s);
  void PlainArray(const double* a, std::size_t n);
  void CompressedArray(const float* a, std::size_t n);
  void CompressedArray(const double* a, std::size_t n);
  // A "$arr" object of the narrowest of "Uint8", "Uint16" and "Uint32" that
  // holds every element, when each is a whole number from 0 to 2^32 - 1
  // (dense, in base64 or digits, whichever is shorter); otherwise (a
  // fraction, a negative number, NaN) as CompressedArray writes it. Under six
  // elements, a plain array either way.
  void CountArray(const float* a, std::size_t n);
  void CountArray(const double* a, std::size_t n);

  // Text already in JSON form, as it is: the punctuation between values
  // ("[", ",", "]"), or a value written elsewhere.
  void Put(std::string_view text);

 private:
  class Output;
  std::unique_ptr<Output> fOutput;
};

}  // namespace rootcompat

#endif
