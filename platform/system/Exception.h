#pragma once
// The one exception family of the program, and the guard that keeps every
// exception on this side of Qt's event loop: an uncaught failure in a command
// or event handler is shown in a message box and the loop goes on.
#include <exception>
#include <functional>
#include <string>
#include <utility>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }

  std::string Message;  // UTF-8, shown to the user as it is
};

// An operation was asked with arguments or in a state that does not allow it.
class EInvalidOperation : public Exception {
 public:
  EInvalidOperation() : Exception("パラメータが不正です。") {}
  explicit EInvalidOperation(std::string message) : Exception(std::move(message)) {}
};

// A list was indexed outside its range.
class EListError : public Exception {
 public:
  explicit EListError(int index);
};

// A text that should be a number is not one.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Shows the message in a message box titled with the application's name.
// Safe from any thread: off the GUI thread it waits while the GUI thread shows
// it (the GUI thread must not be waiting for the caller at that moment).
// Without a GUI application the message goes to standard error. Never throws.
void ShowException(const std::exception& e);
void ShowExceptionMessage(const std::string& message);

// Replaces the message box (tests capture the messages); an empty function
// brings the message box back. The display runs on the GUI thread.
void SetExceptionDisplay(std::function<void(const std::string&)> display);
// The display used while none is set above: the message box, which the ui
// layer installs at start-up (widgets live above this layer); until then the
// message goes to standard error.
void SetDefaultExceptionDisplay(std::function<void(const std::string&)> display);

// The message shown for something thrown that is no std::exception.
extern const char* const kUnknownExceptionMessage;

// Runs f; whatever it throws is shown and swallowed.
template <class F>
void Guarded(F&& f) noexcept {
  try {
    std::forward<F>(f)();
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowExceptionMessage(kUnknownExceptionMessage);
  }
}
