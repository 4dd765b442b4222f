#include "platform/Application.h"

#include <utility>

namespace movrel::platform {

const char* MessageTitle(MessageKind kind) {
  switch (kind) {
    case MessageKind::Warning:
      return "Warning";
    case MessageKind::Error:
      return "Error";
    case MessageKind::Information:
      return "Information";
  }
  return "";
}

Application::Application() : mainThread(CurrentThreadId()) {}

bool Application::AskToAct(MessageKind kind, const std::string& text) {
  ShowMessage(kind, MessageButtons::Ok, text);
  return true;
}

Application::~Application() = default;

void Application::Terminate() {
  terminated = true;
  OnTerminate();
}

void Application::ProcessMessages() {
  if (!InMainThread()) return;
  RunPosted();
  ProcessToolkitMessages();
}

void Application::Post(std::function<void()> work) {
  {
    Hold hold(queueLock);
    queue.push_back(std::move(work));
  }
  WorkPosted();
}

int Application::RunPosted() {
  int ran = 0;
  for (;;) {
    std::function<void()> work;
    {
      Hold hold(queueLock);
      if (queue.empty()) return ran;
      work = std::move(queue.front());
      queue.pop_front();
    }
    work();
    ++ran;
  }
}

}  // namespace movrel::platform
