#include "platform/system/Exception.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <cstdio>
#include <mutex>

const char* const kUnknownExceptionMessage = "予期しないエラーが発生しました。";

EListError::EListError(int index)
    : Exception("リストのインデックスが範囲を超えています (" + std::to_string(index) + ")") {}

namespace {

std::mutex displayMutex;
std::function<void(const std::string&)> displayHook;
std::function<void(const std::string&)> defaultDisplay;

void DisplayUnguarded(const std::string& message) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> lock(displayMutex);
    hook = displayHook ? displayHook : defaultDisplay;
  }
  if (hook) {
    hook(message);
    return;
  }
  std::fprintf(stderr, "%s\n", message.c_str());
}

void ShowMessageNow(const std::string& message) noexcept {
  try {
    DisplayUnguarded(message);
  } catch (...) {
    // A failure while reporting a failure has nowhere left to go.
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}

}  // namespace

void SetExceptionDisplay(std::function<void(const std::string&)> display) {
  std::lock_guard<std::mutex> lock(displayMutex);
  displayHook = std::move(display);
}

void SetDefaultExceptionDisplay(std::function<void(const std::string&)> display) {
  std::lock_guard<std::mutex> lock(displayMutex);
  defaultDisplay = std::move(display);
}

void ShowExceptionMessage(const std::string& message) {
  try {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
      ShowMessageNow(message);
      return;
    }
    // The message box belongs to the GUI thread; wait there for the user.
    QMetaObject::invokeMethod(
        app, [&message] { ShowMessageNow(message); }, Qt::BlockingQueuedConnection);
  } catch (...) {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}

void ShowException(const std::exception& e) {
  const char* text = nullptr;
  try {
    text = e.what();
  } catch (...) {
  }
  ShowExceptionMessage(text && *text ? text : kUnknownExceptionMessage);
}
