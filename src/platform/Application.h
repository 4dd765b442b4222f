// The process-wide application object: its Tag, termination, message processing, the window's
// message boxes, and the queue through which other threads hand work to the window's thread.
// A view (the Qt window, the terminal, a test) derives from it and binds it to its toolkit.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "platform/Lock.h"
#include "platform/ThreadId.h"

namespace movrel::platform {

enum class MessageKind { Warning, Error, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// The title of a message box of each kind: "Warning", "Error", "Information".
const char* MessageTitle(MessageKind kind);

class Application {
 public:
  // The thread that constructs the application is the window's thread.
  Application();
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  int Tag() const { return tag; }
  void SetTag(int value) { tag = value; }

  // Asks the application to end; the message loop ends when it next looks.
  void Terminate();
  bool Terminated() const { return terminated; }

  // In the window's thread: runs the work posted so far and lets the toolkit process its pending
  // messages. In any other thread it does nothing (such a thread owns no window).
  void ProcessMessages();

  // Hands work to the window's thread; callable from any thread.
  void Post(std::function<void()> work);
  bool InMainThread() const { return CurrentThreadId() == mainThread; }

  // Runs the posted work in the window's thread; returns how many items ran.
  int RunPosted();

  // A modal message box of the window: the icon and title of its kind, "OK" or "&Yes"/"&No".
  virtual MessageAnswer ShowMessage(MessageKind kind, MessageButtons buttons,
                                    const std::string& text) = 0;
  // A plain box with the error icon, an OK button and the given title.
  virtual void ShowPlainError(const std::string& text, const std::string& title) = 0;
  // A box with an OK button that asks the person to do something to the machine (take a disc
  // out, push a tray in) and returns when they say it is done: true. False when nobody is there
  // to answer (a terminal whose input has ended), so that the caller does not wait for what will
  // never happen. A window always has its person: the box is ShowMessage's.
  virtual bool AskToAct(MessageKind kind, const std::string& text);

 protected:
  // Called after work was posted, in the posting thread: a toolkit wakes its loop here.
  virtual void WorkPosted() {}
  virtual void ProcessToolkitMessages() {}
  virtual void OnTerminate() {}

 private:
  int tag = 0;
  bool terminated = false;
  ThreadId mainThread;
  Lock queueLock;
  std::deque<std::function<void()>> queue;
};

}  // namespace movrel::platform
