#pragma once
// The server's mail work on a thread of its own: every interval it opens a session, runs one
// round of the mail schedule (reminders when due, then delivery of the outbox) and reports
// what it did; it stops, waking at once, when the server stops.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "app/Schedule.h"
#include "app/Session.h"

namespace web {

/// Opens the session the mail work runs as (on the worker's thread).
using SessionOpener = std::function<app::Session()>;

class MailWorker {
 public:
  /// Starts the thread. password is the relay's (see app::RelayOf); log gets one line per
  /// round that did something or failed.
  MailWorker(SessionOpener open, std::string password, std::chrono::milliseconds interval,
             std::ostream& log);
  /// Stops the thread and waits for it (see Stop).
  ~MailWorker();
  MailWorker(const MailWorker&) = delete;
  MailWorker& operator=(const MailWorker&) = delete;

  /// Asks the thread to stop and waits until it has; a round under way is finished first.
  void Stop();
  /// How many rounds have ended so far, failed ones included.
  [[nodiscard]] int Rounds() const;

 private:
  void Loop();
  void Round();

  SessionOpener open_;
  std::string password_;
  std::chrono::milliseconds interval_;
  std::ostream& log_;
  app::MailSchedule schedule_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  int rounds_ = 0;
  std::thread thread_;
};

}  // namespace web
