#pragma once

#include <string>
#include <utility>

namespace drovanta {

// Buttons, icons and answers of a message box, in the toolkit-neutral form the commands use.
enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageIcon { None, Information, Question, Exclamation };
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct MessageBoxRequest {
  MessageBoxRequest() = default;
  MessageBoxRequest(std::string text, std::string caption, MessageButtons buttons, MessageIcon icon,
                    MessageAnswer defaultAnswer, std::string details = {})
      : text(std::move(text)),
        caption(std::move(caption)),
        buttons(buttons),
        icon(icon),
        defaultAnswer(defaultAnswer),
        details(std::move(details)) {}

  std::string text;  // lines joined by CR LF
  std::string caption;
  MessageButtons buttons = MessageButtons::Ok;
  MessageIcon icon = MessageIcon::None;
  MessageAnswer defaultAnswer = MessageAnswer::Ok;
  // Shown behind a "Show Details..." button, selectable, one item a line; "" for none.
  std::string details;
};

// The open-file dialog's settings, made afresh before each opening.
struct OpenFileRequest {
  std::string fileName;  // preset name; "" so that a cancel returns ""
  std::string filter;    // "description|pattern" pairs joined by "|"
  long flags = 0;
};

struct OpenFileResult {
  // One picked file: its full path. Several: the folder, then each name, separated by NULs.
  // "" when the user cancelled.
  std::string fileName;
  int error = 0;  // 0, or the dialog's error
  std::string errorDescription;
};

enum class MousePointer { Default, Hourglass };

// Everything the window takes from the desktop: dialogs, message boxes, event processing, the
// mouse pointer, the shell and the end of the process. Passed into the window so that tests can
// answer in advance and record what was asked.
class WindowPlatform {
 public:
  virtual ~WindowPlatform() = default;

  // The folder-browse dialog, modal to the window, opened in `startFolder` (the platform's choice
  // when ""): the chosen folder as the shell writes it, "" on cancel or error.
  virtual std::string browseForFolder(const std::string& title,
                                      const std::string& startFolder = {}) = 0;
  virtual OpenFileResult showOpen(const OpenFileRequest& request) = 0;
  virtual MessageAnswer messageBox(const MessageBoxRequest& request) = 0;
  // Handles every pending window event (repaint, clicks, keys), then returns.
  virtual void doEvents() = 0;
  virtual void setMousePointer(MousePointer pointer) = 0;
  // Hands a document or web address to the user's default handler: false when no handler
  // could be started (no browser), true once one has it; it is not waited for.
  virtual bool shellOpen(const std::string& target) = 0;
  // Ends the program at once. A platform that returns (the test one) must answer true from
  // programEnded() from then on, so that the interrupted command unwinds without resuming.
  virtual void endProgram() = 0;
  virtual bool programEnded() const { return false; }
  // A value kept for the user from one start of the program to the next; "" when none.
  virtual std::string setting(const std::string& key) = 0;
  virtual void setSetting(const std::string& key, const std::string& value) = 0;
};

}  // namespace drovanta
