// The attachment commands: upload a file or add a link to an action, list, fetch and remove
// attachments. The store keeps files under names it chooses itself, so the file name given here
// is only a description.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include <fmt/format.h>

#include "cli/Cli.h"

namespace cli {
namespace {

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) Fail(fmt::format("Cannot read {}.", file.string()));
  return {std::istreambuf_iterator<char>(in), {}};
}

struct AttachArgs {
  std::string file;
  std::string link;
  std::string description;
  int32_t attachmentID = 0;
  std::string output;
};

void RegisterAdd(CLI::App& attach, Options& options, const std::shared_ptr<AttachArgs>& args) {
  auto* add = attach.add_subcommand(
      "add", "Attach FILE or a link (--link URL) to action N (needs a right to edit it)");
  // Before any session is opened.
  add->parse_complete_callback([args] {
    if (args->file.empty() == args->link.empty()) {
      throw UsageError("attach add: give either FILE or --link URL");
    }
  });
  // N first, then FILE.
  OnClientTarget(*add, options, [args](Client& client, int32_t actionID) {
    int32_t attachmentID = 0;
    // Stored first: a refusal must not leave half a success line on standard output.
    if (!args->link.empty()) {
      attachmentID = client.AttachLink(actionID, args->link,
                                       args->description.empty() ? args->link : args->description);
    } else {
      const std::string name = std::filesystem::path(args->file).filename().string();
      attachmentID =
          client.AttachFile(actionID, name, args->description.empty() ? name : args->description,
                            ReadFile(args->file));
    }
    std::cout << "Added attachment " << attachmentID << ".\n";
  });
  add->add_option("FILE", args->file, "File to upload");
  add->add_option("--link", args->link, "URL to attach instead of a file");
  add->add_option("--description", args->description,
                  "Description (default: the file's name or the URL)");
}

void RegisterGet(CLI::App& attach, Options& options, const std::shared_ptr<AttachArgs>& args) {
  auto* get = attach.add_subcommand("get", "Write an uploaded attachment's content");
  get->add_option("ID", args->attachmentID, "Attachment ID")->required();
  get->add_option("--output", args->output, "File to create (default: standard output)");
  OnClient(*get, options, [args](Client& client) {
    const std::string bytes = client.AttachmentBytes(args->attachmentID);
    if (args->output.empty()) {
      std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      return;
    }
    if (std::filesystem::exists(std::filesystem::symlink_status(args->output))) {
      Fail(fmt::format("{} exists already; choose a new file.", args->output));
    }
    std::ofstream out(args->output, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) Fail(fmt::format("Cannot write {}.", args->output));
  });
}

}  // namespace

void RegisterAttachmentCommands(CLI::App& app, Options& options) {
  auto args = std::make_shared<AttachArgs>();
  CLI::App* attach = AddGroup(app, "attach", "Files and links attached to actions");
  RegisterAdd(*attach, options, args);

  auto* list = attach->add_subcommand("list", "List the attachments of action N");
  OnClientTarget(*list, options, [&options](Client& client, int32_t actionID) {
    PrintRecordset(std::cout, *client.AttachmentList(actionID), FormatOf(options), client.locale());
  });

  RegisterGet(*attach, options, args);

  auto* remove = attach->add_subcommand(
      "rm", "Remove an attachment and its content (needs a right to edit its action)");
  remove->add_option("ID", args->attachmentID, "Attachment ID")->required();
  OnClient(*remove, options, [args](Client& client) {
    client.AttachmentRemove(args->attachmentID);
    std::cout << "Removed attachment " << args->attachmentID << ".\n";
  });
}

}  // namespace cli
