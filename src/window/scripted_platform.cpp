#include "window/scripted_platform.h"

#include <QCoreApplication>

#include "window/picked_files.h"

namespace drovanta {

void ScriptedPlatform::queuePickedFiles(std::vector<std::string> paths) {
  openAnswers_.push_back(OpenAnswer{true, std::move(paths), {}});
}

void ScriptedPlatform::queueOpenResult(OpenFileResult result) {
  openAnswers_.push_back(OpenAnswer{false, {}, std::move(result)});
}

std::string ScriptedPlatform::browseForFolder(const std::string& title,
                                              const std::string& startFolder) {
  folderTitles.push_back(title);
  folderStarts.push_back(startFolder);
  if (folders_.empty()) return {};
  std::string folder = std::move(folders_.front());
  folders_.pop_front();
  return folder;
}

OpenFileResult ScriptedPlatform::showOpen(const OpenFileRequest& request) {
  openRequests.push_back(request);
  if (openAnswers_.empty()) return {};
  OpenAnswer answer = std::move(openAnswers_.front());
  openAnswers_.pop_front();
  return answer.picked ? PickedFilesResult(answer.paths) : answer.result;
}

MessageAnswer ScriptedPlatform::messageBox(const MessageBoxRequest& request) {
  boxes.push_back(request);
  if (whileBoxOpen) whileBoxOpen(request);
  if (answers_.empty()) return request.defaultAnswer;
  const MessageAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void ScriptedPlatform::doEvents() {
  ++yields;
  if (!yieldActions_.empty()) {
    // Take the action out first: it may click a button whose command yields again.
    auto action = std::move(yieldActions_.front());
    yieldActions_.pop_front();
    if (!action()) yieldActions_.push_front(std::move(action));
  }
  QCoreApplication::processEvents();
}

}  // namespace drovanta
