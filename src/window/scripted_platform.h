#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "window/window_platform.h"

namespace drovanta {

// A platform that answers from queues filled in advance and records every request, for tests
// and benchmarks driving the real window offscreen. An empty queue means the user cancelled (or,
// for a message box, pressed its default button). Pending Qt events are still processed, so
// real widgets repaint and real clicks arrive.
class ScriptedPlatform : public WindowPlatform {
 public:
  // Answers of the folder-browse dialog, in order.
  void queueFolder(std::string folder) { folders_.push_back(std::move(folder)); }
  // Files picked in the open-file dialog; the result is built as the dialog builds it.
  void queuePickedFiles(std::vector<std::string> paths);
  // A result handed back exactly as given.
  void queueOpenResult(OpenFileResult result);
  void queueAnswer(MessageAnswer answer) { answers_.push_back(answer); }
  // Runs while each message box is open, before it is answered.
  std::function<void(const MessageBoxRequest&)> whileBoxOpen;
  // Runs at every yield until it returns true, then is dropped; the next one waits its turn.
  void onYield(std::function<bool()> action) { yieldActions_.push_back(std::move(action)); }

  std::string browseForFolder(const std::string& title,
                              const std::string& startFolder = {}) override;
  OpenFileResult showOpen(const OpenFileRequest& request) override;
  MessageAnswer messageBox(const MessageBoxRequest& request) override;
  void doEvents() override;
  void setMousePointer(MousePointer pointer) override { pointers.push_back(pointer); }
  bool shellOpen(const std::string& target) override {
    opened.push_back(target);
    return shellOpenWorks;
  }
  void endProgram() override { ++endRequests; }
  bool programEnded() const override { return endRequests > 0; }
  std::string setting(const std::string& key) override {
    const auto found = settings.find(key);
    return found == settings.end() ? std::string() : found->second;
  }
  void setSetting(const std::string& key, const std::string& value) override {
    settings[key] = value;
  }

  // What the window asked for, in order.
  std::vector<std::string> folderTitles;
  std::vector<std::string> folderStarts;  // the folder each dialog opened in
  std::map<std::string, std::string> settings;
  std::vector<OpenFileRequest> openRequests;
  std::vector<MessageBoxRequest> boxes;
  std::vector<MousePointer> pointers;
  std::vector<std::string> opened;
  bool shellOpenWorks = true;  // false: as on a desktop without a browser
  long yields = 0;
  int endRequests = 0;
  int pendingYieldActions() const { return static_cast<int>(yieldActions_.size()); }

 private:
  struct OpenAnswer {
    bool picked = false;
    std::vector<std::string> paths;
    OpenFileResult result;
  };
  std::deque<std::string> folders_;
  std::deque<OpenAnswer> openAnswers_;
  std::deque<MessageAnswer> answers_;
  std::deque<std::function<bool()>> yieldActions_;
};

}  // namespace drovanta
