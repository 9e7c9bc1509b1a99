#pragma once
// The fixture of the web front end's tests: on each engine, a database with a lead (its first
// SuperUser), an originator, an assignee, a bystander (the default workgroup) and a viewer who
// holds only right 70, served on a free port of this host.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Actions.h"
#include "app/Admin.h"
#include "kvdata/testing/Fixture.h"
#include "web/Client_test.h"
#include "web/Server.h"

namespace web {

inline const std::vector<std::string> kUsers = {"lead", "orig", "asg", "by", "viewer"};

class ServedDatabaseTest : public kvdata::testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    open_ = {ConnectionString(), pinnedClock_, vb::Locale::EnUS(), kvdata::PasswordCost::Minimum};
    app::CreateDatabase(open_, {"lead", "Lee Lead", "password1", ""});
    auto lead = app::Session::SignIn(open_, "lead", "password1");
    const int32_t viewers = app::WorkgroupAdd(lead, "Viewers", {70});
    for (const auto* user : {"orig", "asg", "by"})
      app::UserAdd(lead, {user, user, "password1", "", {}});
    app::UserAdd(lead, {"viewer", "Vi", "password1", "", viewers});
    Serve();
  }
  void TearDown() override {
    Stop();
    DatabaseTest::TearDown();
  }
  // Serves the database (again) at a free port, people reaching it at baseUrl.
  void Serve(const std::string& baseUrl = {}) {
    if (server_) Stop();
    ServeOptions options;
    options.port = 0;
    options.open = open_;
    options.baseUrl = baseUrl;
    options.limits = limits_;
    server_ = std::make_unique<Server>(options);
    port_ = server_->Bind();
    client_ = std::make_unique<Client>("127.0.0.1", port_);
    thread_ = std::thread([this] { server_->Run(); });
    // Once it answers it is serving, and a Stop cannot come before the serving begins.
    (void)client_->Get("/signin");
  }
  void Stop() {
    server_->Stop();
    thread_.join();
  }
  int32_t NewAction(const std::string& subject = "Fix the pump") {
    auto orig = app::Session::SignIn(open_, "orig", "password1");
    return app::Add(orig, {{"Subject", subject}, {"Assignee", "asg"}});
  }
  // Every table a request could change, as text.
  std::string Snapshot() {
    return kvdata::testing::TablesText(
        *Connect(), {"actions", "ActionEvents", "ActionAttachments", "ActionQueries", "Users",
                     "ActionGroups", "ActionConfig", "ActionKeywords", "ActionWatchers"});
  }
  app::OpenOptions open_;
  ServeLimits limits_;  ///< what the next Serve uses
  std::unique_ptr<Server> server_;
  int port_ = 0;
  std::unique_ptr<Client> client_;
  std::thread thread_;
};

}  // namespace web
