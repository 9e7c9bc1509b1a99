// Webhooks on both engines against a loopback receiver: every event arrives signed (checked here
// with OpenSSL, not the code that signs), once across two delivering sessions at once, again
// after the back-off when the receiver failed, never at a redirect's target; hostile addresses
// and people without the right change nothing.
#include <gtest/gtest.h>
#include <openssl/hmac.h>

#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/Errors.h"
#include "app/Hooks.h"
#include "app/testing/HookSink.h"
#include "kvdata/testing/Fixture.h"

namespace app {
namespace {

using app::testing::HookSink;
using app::testing::ReceivedHook;

const vb::Date kNow = vb::Date::FromParts(2024, 3, 15, 9, 30, 5);
constexpr std::string_view kSecret = "a shared secret of some length";

std::string OpenSslSignature(const ReceivedHook& hook) {
  const std::string signed_ = hook.headers.at("x-kvaction-timestamp") + "." + hook.body;
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  HMAC(EVP_sha256(), kSecret.data(), static_cast<int>(kSecret.size()),
       reinterpret_cast<const unsigned char*>(signed_.data()), signed_.size(), mac, &size);
  std::string hex = "sha256=";
  for (unsigned int i = 0; i < size; ++i) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[mac[i] >> 4];
    hex += kDigits[mac[i] & 15];
  }
  return hex;
}

class HooksTest : public kvdata::testing::DatabaseTest {
 public:
  void SetUp() override {
    DatabaseTest::SetUp();
    CreateDatabase(At(kNow), {"lead", "Lee Lead", "leadpass1", ""});
    auto lead = SignIn("lead");
    UserAdd(lead, {"pat", "Pat Lee", "password1", "", {}});
  }
  OpenOptions At(const vb::Date& now) const {
    return {ConnectionString(), std::make_shared<vb::FixedClock>(now), vb::Locale::EnUS(),
            kvdata::PasswordCost::Minimum, true};
  }
  Session SignIn(const std::string& user, const vb::Date& now = kNow) const {
    return Session::SignIn(At(now), user, user == "lead" ? "leadpass1" : "password1");
  }
  int32_t Hook(const std::string& url, const std::string& events = "all") const {
    auto lead = SignIn("lead");
    return hooks::Add(lead, {url, std::string(kSecret), events, {}}).hookID;
  }
  hooks::DeliveryReport Deliver(const vb::Date& now = kNow) const {
    auto lead = SignIn("lead", now);
    return hooks::Deliver(lead);
  }
  static vb::Date Minutes(int n) { return vb::Date::FromSerial(kNow.Serial() + n / 1440.0); }
};

TEST_P(HooksTest, EveryEventArrivesSignedWithWhatChanged) {
  HookSink sink;
  (void)Hook(sink.URL("/all"));
  (void)Hook(sink.URL("/deleted"), " Deleted ");
  auto pat = SignIn("pat");
  const int32_t id = Add(pat, {{"Subject", "Order toner"}, {"Priority", "High"}});
  (void)Edit(pat, id, {{"Subject", "Order more toner"}});
  Complete(pat, id, "done");
  hooks::Emit(pat, hooks::Event::Commented, id, {{}, {}, "Looks good"});
  Delete(pat, id);
  const hooks::DeliveryReport report = Deliver();
  EXPECT_EQ(report.delivered, 6);
  EXPECT_TRUE(report.problems.empty());

  const auto received = sink.Received();
  ASSERT_EQ(received.size(), 6U);
  std::vector<std::string> events;
  std::set<std::string> keys;
  for (const ReceivedHook& hook : received) {
    EXPECT_EQ(hook.method, "POST");
    EXPECT_EQ(hook.headers.at("x-kvaction-signature"), OpenSslSignature(hook)) << hook.body;
    EXPECT_EQ(hook.headers.at("content-type"), "application/json; charset=utf-8");
    keys.insert(hook.headers.at("x-kvaction-delivery"));
    const auto body = nlohmann::json::parse(hook.body);
    EXPECT_EQ(body["event"], hook.headers.at("x-kvaction-event"));
    EXPECT_EQ(body["actor"]["id"], "pat");
    EXPECT_EQ(body["action"]["id"], id);
    events.push_back(hook.path + " " + body["event"].get<std::string>());
  }
  EXPECT_EQ(keys.size(), 6U);
  EXPECT_EQ(events,
            (std::vector<std::string>{"/all created", "/all changed", "/all moved",
                                      "/all commented", "/all deleted", "/deleted deleted"}));
  const auto changed = nlohmann::json::parse(received[1].body);
  EXPECT_EQ(changed["changes"], nlohmann::json::parse(R"([{"field":"Subject",
      "from":"Order toner","to":"Order more toner"}])"));
  const auto moved = nlohmann::json::parse(received[2].body);
  EXPECT_EQ(moved["move"], "completed");
  EXPECT_EQ(moved["action"]["state"], "completed");
  EXPECT_EQ(nlohmann::json::parse(received[3].body)["comment"], "Looks good");
  // The deleted action's data travels with the event, as it was before it went.
  EXPECT_EQ(nlohmann::json::parse(received[4].body)["action"]["subject"], "Order more toner");
}

TEST_P(HooksTest, TwoDeliveringSessionsAtOnceSendEachEventOnce) {
  HookSink sink;
  (void)Hook(sink.URL());
  auto pat = SignIn("pat");
  constexpr int kActions = 12;
  for (int i = 0; i < kActions; ++i) (void)Add(pat, {{"Subject", "Task " + std::to_string(i)}});
  hooks::DeliveryReport first;
  hooks::DeliveryReport second;
  std::thread one([&] { first = Deliver(); });
  std::thread two([&] { second = Deliver(); });
  one.join();
  two.join();
  EXPECT_EQ(first.delivered + second.delivered, kActions);
  std::multiset<std::string> keys;
  for (const auto& hook : sink.Received()) keys.insert(hook.headers.at("x-kvaction-delivery"));
  EXPECT_EQ(keys.size(), static_cast<size_t>(kActions));
  EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size());
  // Nothing is left to send.
  EXPECT_EQ(Deliver(Minutes(120)).delivered, 0);
  EXPECT_EQ(sink.Received().size(), static_cast<size_t>(kActions));
}

TEST_P(HooksTest, AFailedAnswerWaitsForTheBackOffAndARedirectIsNotFollowed) {
  struct Case {
    int status;
    std::string error;  // part of the recorded error
  };
  for (const Case& c :
       {Case{500, "the receiver answered 500"}, Case{302, "redirects are not followed"}}) {
    SCOPED_TRACE(c.status);
    HookSink sink({c.status});
    const int32_t hook = Hook(sink.URL());
    auto pat = SignIn("pat");
    (void)Add(pat, {{"Subject", "Call the printer man"}});

    hooks::DeliveryReport report = Deliver();
    EXPECT_EQ(report.deferred, 1);
    ASSERT_EQ(report.problems.size(), 1U);
    EXPECT_NE(report.problems[0].find(c.error), std::string::npos) << report.problems[0];
    EXPECT_EQ(report.problems[0].find(kSecret), std::string::npos);
    auto lead = SignIn("lead");
    auto deliveries = hooks::Deliveries(lead, hook);
    ASSERT_EQ(deliveries.size(), 1U);
    EXPECT_EQ(deliveries[0].status, c.status);
    EXPECT_EQ(deliveries[0].answer, "nope: status " + std::to_string(c.status));
    EXPECT_EQ(deliveries[0].State(), "waiting");
    const DatabaseStatus waiting = StatusOf(At(Minutes(2)));
    EXPECT_EQ(waiting.waitingHooks, 1);
    EXPECT_NEAR(waiting.oldestHookSeconds, 120, 0.01);

    // Not again before the back-off's minute has passed; then once, with the same key.
    EXPECT_EQ(Deliver(Minutes(0)).delivered, 0);
    EXPECT_EQ(sink.Received().size(), 1U);
    EXPECT_EQ(Deliver(Minutes(1)).delivered, 1);
    const auto received = sink.Received();
    ASSERT_EQ(received.size(), 2U);
    EXPECT_EQ(received[0].path, "/hook");
    EXPECT_EQ(received[1].path, "/hook");
    EXPECT_EQ(received[0].headers.at("x-kvaction-delivery"),
              received[1].headers.at("x-kvaction-delivery"));
    deliveries = hooks::Deliveries(lead, hook);
    EXPECT_EQ(deliveries[0].State(), "delivered");
    EXPECT_EQ(deliveries[0].status, 200);
    EXPECT_EQ(deliveries[0].attempts, 2);
    EXPECT_EQ(StatusOf(At(Minutes(2))).waitingHooks, 0);
    hooks::Remove(lead, hook);
  }
}

TEST_P(HooksTest, HostileAddressesAndOtherPeopleChangeNothing) {
  auto lead = SignIn("lead");
  const int32_t hook = hooks::Add(lead, {"https://hooks.example.org/kv", "", "created", {}}).hookID;
  auto connection = Connect();
  const auto tables = [&] {
    return kvdata::testing::TablesText(*connection, {"ActionHooks", "ActionHookDeliveries"});
  };
  const std::string before = tables();
  struct Case {
    std::string url;
    std::string message;  // part of the refusal
  };
  for (const Case& c :
       {Case{"file:///etc/passwd", "URL: 'file:///etc/passwd' is not an https://"},
        Case{"gopher://127.0.0.1:70/", "is not an https://"},
        Case{"ftp://files.example.org/", "is not an https://"},
        Case{"http://hooks.example.org/kv", "http:// to this machine"},
        Case{"http://10.0.0.7/kv", "is not an https://"},
        Case{"https://user:pw@hooks.example.org/", "without a user name"},
        Case{"hooks.example.org/kv", "is not an https://"}, Case{"", "URL: an https:// address"}}) {
    SCOPED_TRACE(c.url);
    try {
      (void)hooks::Add(lead, {c.url, "", "all", {}});
      ADD_FAILURE() << "accepted";
    } catch (const vb::ComError& e) {
      EXPECT_EQ(e.number(), kInvalidInput);
      EXPECT_NE(e.description().find(c.message), std::string::npos) << e.description();
      EXPECT_EQ(e.description().find("pw@"), std::string::npos);
    }
  }
  for (const std::string url : {"https://hooks.example.org:8443/x?y=1", "http://127.0.0.1:9/",
                                "http://localhost/h", "http://[::1]:8080/"}) {
    EXPECT_NO_THROW(hooks::CheckURL(url)) << url;
  }
  EXPECT_THROW((void)hooks::Add(lead, {"https://a.example.org/", "short", "all", {}}),
               vb::ComError);
  EXPECT_THROW((void)hooks::Add(lead, {"https://a.example.org/", "", "created,updated", {}}),
               vb::ComError);
  EXPECT_EQ(tables(), before);

  auto pat = SignIn("pat");
  const std::vector<std::pair<std::string, std::function<void()>>> calls = {
      {"list", [&] { (void)hooks::List(pat); }},
      {"add",
       [&] {
         (void)hooks::Add(pat, {"https://x.example.org/", "", "all", {}});
       }},
      {"edit",
       [&] {
         (void)hooks::Edit(pat, hook, {{}, {}, {}, false});
       }},
      {"remove", [&] { hooks::Remove(pat, hook); }},
      {"deliveries", [&] { (void)hooks::Deliveries(pat); }},
      {"deliver", [&] { (void)hooks::Deliver(pat); }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    try {
      call();
      ADD_FAILURE() << "not refused";
    } catch (const vb::ComError& e) {
      EXPECT_EQ(e.number(), kRefused);
    }
  }
  EXPECT_EQ(tables(), before);
}

KV_INSTANTIATE_ENGINES(HooksTest);

}  // namespace
}  // namespace app
