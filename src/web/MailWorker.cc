#include "web/MailWorker.h"

#include <optional>
#include <utility>

#include <fmt/format.h>

#include "vb/ComError.h"

namespace web {

MailWorker::MailWorker(SessionOpener open, std::string password, std::chrono::milliseconds interval,
                       std::ostream& log)
    : open_(std::move(open)), password_(std::move(password)), interval_(interval), log_(log) {
  thread_ = std::thread([this] { Loop(); });
}

MailWorker::~MailWorker() { Stop(); }

void MailWorker::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

int MailWorker::Rounds() const {
  const std::lock_guard lock(mutex_);
  return rounds_;
}

void MailWorker::Loop() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    lock.unlock();
    Round();
    lock.lock();
    ++rounds_;
    wake_.wait_for(lock, interval_, [this] { return stop_; });
  }
}

void MailWorker::Round() {
  // A fresh session each round: a database connection lost between rounds costs one round.
  try {
    app::Session session = open_();
    const app::MailRound round = schedule_.Run(session, password_);
    if (round.reminders) {
      log_ << fmt::format("kvaction serve: reminders queued: {}, already sent today: {}.\n",
                          round.reminders->digests.size(), round.reminders->alreadySent.size());
    }
    if (round.delivery && (round.delivery->delivered > 0 || !round.delivery->problems.empty())) {
      log_ << fmt::format("kvaction serve: mail delivered {}, to be tried again {}, given up {}.\n",
                          round.delivery->delivered, round.delivery->deferred,
                          round.delivery->gaveUp);
      for (const auto& problem : round.delivery->problems) {
        log_ << "kvaction serve: " << problem << '\n';
      }
    }
    const app::hooks::DeliveryReport& hooks = round.hooks;
    if (hooks.delivered > 0 || !hooks.problems.empty()) {
      log_ << fmt::format(
          "kvaction serve: webhooks delivered {}, to be tried again {}, given up {}.\n",
          hooks.delivered, hooks.deferred, hooks.gaveUp);
      for (const auto& problem : hooks.problems) log_ << "kvaction serve: " << problem << '\n';
    }
  } catch (const vb::ComError& error) {
    log_ << "kvaction serve: mail work failed: " << error.description() << '\n';
  } catch (const std::exception& error) {
    log_ << "kvaction serve: mail work failed: " << error.what() << '\n';
  }
  log_.flush();
}

}  // namespace web
