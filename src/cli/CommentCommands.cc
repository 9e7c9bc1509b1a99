// Comments and replies by mail: `comment` adds a comment to an action (mentioning people with
// @userid), and `mail receive` takes replies to notices from a mail server's pipe or a Maildir
// folder and turns each verified one into its sender's comment (see app/Replies.h).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/Comments.h"
#include "app/Errors.h"
#include "app/Replies.h"
#include "cli/Cli.h"
#include "cli/Client.h"
#include "vb/ComError.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

/// The exit status that tells a mail server to try again later (sysexits.h EX_TEMPFAIL).
constexpr int kExitTryAgain = 75;

struct CommentArgs {
  std::string text;
};

struct ReceiveArgs {
  std::string maildir;
  std::string recipient;
};

std::string AllOf(std::istream& in) {
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void RegisterComment(CLI::App& app, Options& options) {
  auto args = std::make_shared<CommentArgs>();
  auto* comment = app.add_subcommand(
      "comment",
      "Comment on an action (anyone who may see it); @userid mentions a person, who gets a "
      "notice");
  OnClientTarget(*comment, options, [args, &options](Client& client, int32_t id) {
    // "-": the text comes on standard input (after the password line with --password-stdin).
    const std::string text = args->text == "-" ? AllOf(std::cin) : args->text;
    const std::vector<app::Mention> mentions = client.Comment(id, text);
    const std::string number = client.ActionNumberText(id);
    if (options.json) {
      nlohmann::ordered_json mentioned = nlohmann::ordered_json::array();
      for (const auto& m : mentions) mentioned.push_back({{"user", m.userID}, {"name", m.name}});
      std::cout << nlohmann::ordered_json{{"action", number}, {"mentioned", mentioned}}.dump(2)
                << '\n';
      return;
    }
    std::cout << "Commented on " << number << ".\n";
    for (const auto& m : mentions) {
      std::cout << "Mentioned " << m.name << " (@" << m.userID << ").\n";
    }
  });
  comment->add_option("TEXT", args->text, "The comment; - reads it from standard input")
      ->required();
}

/// One message: what became of it, printed; whether it was taken (or taken before).
bool Received(const Options& options, const std::string& message, const std::string& recipient,
              const std::string& name) {
  const app::ReplyOutcome outcome = app::ReceiveReply(OpenOptionsOf(options), message, recipient);
  const std::string prefix = name.empty() ? std::string() : name + ": ";
  switch (outcome.kind) {
    case app::ReplyOutcome::Kind::Taken:
      std::cout << prefix << "taken as a comment by " << outcome.userID << " on the action with ID "
                << outcome.actionID << ".\n";
      return true;
    case app::ReplyOutcome::Kind::AlreadyTaken:
      std::cout << prefix << "taken before; nothing stored again.\n";
      return true;
    case app::ReplyOutcome::Kind::Refused:
      break;
  }
  std::cerr << "kvaction: " << prefix << "refused: " << outcome.reason << '\n';
  return false;
}

/// A reader's name for a message moved to cur/: ":2," and its flags (S seen, F flagged).
fs::path CurName(const fs::path& folder, const fs::path& file, bool taken) {
  std::string name = file.filename().string();
  name = name.substr(0, name.find(':'));
  return folder / "cur" / (name + (taken ? ":2,S" : ":2,F"));
}

void RegisterReceive(CLI::App& app, Options& options) {
  CLI::App* mail = app.get_subcommand("mail");
  auto args = std::make_shared<ReceiveArgs>();
  auto* receive = mail->add_subcommand(
      "receive",
      "Take replies to notices as comments: one message on standard input (a mail server's "
      "pipe), or every new message of a Maildir; exit 0 taken, 1 refused, 75 try again later");
  receive->add_option("--maildir", args->maildir,
                      "A Maildir folder: each message of new/ is read and moved to cur/ (seen "
                      "when taken, flagged when refused)");
  receive->add_option("--recipient", args->recipient,
                      "The envelope recipient the mail server names (Postfix: ${recipient})");
  receive->callback([args, &options] {
    ApplyDefaults(options);
    try {
      if (args->maildir.empty()) {
        if (!Received(options, AllOf(std::cin), args->recipient, {})) throw ExitStatus{kExitFailed};
        return;
      }
      const fs::path folder(args->maildir);
      if (!fs::is_directory(folder / "new") || !fs::is_directory(folder / "cur")) {
        Fail("The folder " + args->maildir + " is not a Maildir (it needs new/ and cur/).");
      }
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(folder / "new")) {
        if (entry.is_regular_file() && !entry.path().filename().string().starts_with('.')) {
          files.push_back(entry.path());
        }
      }
      std::sort(files.begin(), files.end());
      int taken = 0;
      int refused = 0;
      for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const bool ok = Received(options, AllOf(in), args->recipient, file.filename().string());
        ++(ok ? taken : refused);
        fs::rename(file, CurName(folder, file, ok));
      }
      std::cout << fmt::format("Taken {}, refused {} (the event log says why).\n", taken, refused);
      if (refused > 0) throw ExitStatus{kExitFailed};
    } catch (const vb::ComError& error) {
      if (app::KindOf(error) != app::ErrorKind::Other) throw;
      // The database could not be reached or written: the mail server keeps the message.
      std::cerr << "kvaction: " << error.source() << ": " << error.description()
                << " (the message is kept; try again later)\n";
      throw ExitStatus{kExitTryAgain};
    }
  });
}

}  // namespace

void RegisterCommentCommands(CLI::App& app, Options& options) {
  RegisterComment(app, options);
  RegisterReceive(app, options);
}

}  // namespace cli
