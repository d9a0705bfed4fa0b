// Errors as values: a reading or computing function returns its result or
// the Error that stopped it, and the caller decides what it means.  A
// program turns an Error into its message and exit status in one place; the
// Python module turns it into the exception for its kind.  No error is ever
// recognised by its text.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace hedm {

enum class ErrorKind {
  Usage,     // the command line has the wrong shape: the program shows its usage text
  Argument,  // a value on the command line is wrong
  Input,     // an input is missing or cannot be read
  Data,      // an input was read but is not what it must be (no whole frame, the wrong type)
  Output,  // an output could not be written, or may not be (it is an input, it holds a stack)
  Memory,  // the memory a run needs could not be had
};

struct Error {
  ErrorKind kind;
  std::string text;  // one or more sentences naming the file or value at fault, without closing words
  bool whole = false;  // the text is the whole line, worded as scripts of long standing read it
};

// The makers of errors, one for each kind.  A command line of the wrong
// shape carries no text: the program shows its usage text.
inline Error usage_error() { return Error{ErrorKind::Usage, ""}; }
inline Error argument_error(std::string text) { return Error{ErrorKind::Argument, std::move(text)}; }
inline Error input_error(std::string text) { return Error{ErrorKind::Input, std::move(text)}; }
inline Error data_error(std::string text) { return Error{ErrorKind::Data, std::move(text)}; }
inline Error output_error(std::string text) { return Error{ErrorKind::Output, std::move(text)}; }
inline Error memory_error(std::string text) { return Error{ErrorKind::Memory, std::move(text)}; }
// The error with more words after its text: what the caller makes of it
// ("Nothing written.").
inline Error followed_by(Error e, const std::string& more) {
  e.text += more;
  return e;
}

// A value of T, or the Error that stopped it.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}
  Result(Error error) : v_(std::move(error)) {}
  explicit operator bool() const { return v_.index() == 0; }
  T& operator*() { return std::get<0>(v_); }
  const T& operator*() const { return std::get<0>(v_); }
  T* operator->() { return &std::get<0>(v_); }
  const T* operator->() const { return &std::get<0>(v_); }
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

// The result of a step that has nothing to hand back.
using Status = Result<std::monostate>;
inline Status ok() { return std::monostate{}; }

}  // namespace hedm
