#pragma once
// The questions of mounting a network location as our own dialogs. They come
// from the thread that mounts and are carried to the GUI thread by the
// synchronised call; a password asked again for the same mount says that the
// last one was refused.
//
//   dialog            object name       widgets
//   password          mountPasswordDialog  userEdit domainEdit passwordEdit rememberBox anonymousBox
//                                          okButton cancelButton messageLabel
//   choice            mountChoiceDialog    choiceButton0.. cancelButton messageLabel
//   unknown host key  mountHostKeyDialog   fingerprintLabel connectButton cancelButton (the default) messageLabel
#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "platform/network/Location.h"

class TEvent;

class MountDialogs : public network::MountQuestions {
 public:
  // stopEvent (may be null): set by a window that closes, so no question waits on it.
  explicit MountDialogs(QWidget* owner = nullptr, TEvent* stopEvent = nullptr);

  bool AskPassword(const network::PasswordRequest& request, network::PasswordAnswer& answer) override;
  int AskChoice(const std::string& message, const std::vector<std::string>& choices) override;
  bool AcceptHostKey(const std::string& uri, const std::string& fingerprint, const std::string& message) override;

  // The dialogs themselves, on the GUI thread; tests drive them by object name.
  static bool ShowPasswordDialog(QWidget* owner, const network::PasswordRequest& request, bool askedBefore,
                                 network::PasswordAnswer& answer);
  static int ShowChoiceDialog(QWidget* owner, const std::string& message, const std::vector<std::string>& choices);
  static bool ShowHostKeyDialog(QWidget* owner, const std::string& uri, const std::string& fingerprint,
                                const std::string& message);

 private:
  QWidget* owner_;
  TEvent* stopEvent_;
  int passwordsAsked_ = 0;
};
