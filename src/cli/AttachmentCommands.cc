// The attachment commands: upload a file or add a link to an action, list, fetch and remove
// attachments. Files travel base64-encoded; the store keeps them under "AttachmentPath" in files
// it names itself, so the file name given here is only a description.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include <fmt/format.h>

#include "cli/Cli.h"
#include "kvdata/Base64.h"
#include "vb/Convert.h"

namespace cli {
namespace {

constexpr std::string_view kBase64 = "base64";
// Attachment types: 0 a link, 1 uploaded content.
constexpr int16_t kLink = 0;
constexpr int16_t kUpload = 1;

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
      "add", "Attach FILE (uploaded under the AttachmentPath setting) or a link to action N");
  // Before any session is opened.
  add->parse_complete_callback([args] {
    if (args->file.empty() == args->link.empty()) Fail("Give either FILE or --link URL.");
  });
  // N first, then FILE.
  OnTarget(*add, options, [args](kvaction::Action& action, int32_t actionID) {
    int32_t id = 0;
    if (!args->link.empty()) {
      id = action.addAttachment(
          actionID, args->description.empty() ? args->link : args->description, args->link, kLink);
    } else {
      const std::string name = std::filesystem::path(args->file).filename().string();
      std::string data = kvdata::ToBase64(ReadFile(args->file));
      id = action.addAttachment(actionID, args->description.empty() ? name : args->description,
                                name, kUpload, kBase64, &data);
    }
    if (id == 0) Fail("No attachment was stored.");
    std::cout << "Added attachment " << id << ".\n";
  });
  auto* file = add->add_option("FILE", args->file, "File to upload");
  auto* link = add->add_option("--link", args->link, "URL to attach instead of a file");
  file->excludes(link);
  add->add_option("--description", args->description,
                  "Description (default: the file's name or the URL)");
}

std::string Decoded(const std::string& base64) {
  auto bytes = kvdata::FromBase64(base64);
  if (!bytes) Fail("The attachment's content is not valid base64.");
  return std::move(*bytes);
}

void RegisterGet(CLI::App& attach, Options& options, const std::shared_ptr<AttachArgs>& args) {
  auto* get = attach.add_subcommand("get", "Write an uploaded attachment's content");
  get->add_option("ID", args->attachmentID, "Attachment ID")->required();
  get->add_option("--output", args->output, "File to create (default: standard output)");
  OnAction(*get, options, [args](kvaction::Action& action) {
    std::string encoding;
    std::string data;
    if (!action.getAttachment(args->attachmentID, encoding, data)) {
      Fail(
          fmt::format("Attachment {} has no content: there is no such attachment, or it is a "
                      "link.",
                      args->attachmentID));
    }
    const std::string bytes = vb::EqualsText(encoding, kBase64) ? Decoded(data) : data;
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
  OnTarget(*list, options, [&options](kvaction::Action& action, int32_t actionID) {
    PrintRecordset(std::cout, *action.AttachmentRecordset(actionID), options);
  });

  RegisterGet(*attach, options, args);

  auto* remove = attach->add_subcommand("rm", "Remove an attachment and its content");
  remove->add_option("ID", args->attachmentID, "Attachment ID")->required();
  OnAction(*remove, options, [args](kvaction::Action& action) {
    action.DeleteAttachment(args->attachmentID);
    std::cout << "Removed attachment " << args->attachmentID << ".\n";
  });
}

}  // namespace cli
