// The attachment commands: upload a file or add a link to an action, list, fetch and remove
// attachments. Files travel base64-encoded; the store keeps them under "AttachmentPath" in files
// it names itself, so the file name given here is only a description.
#include <sodium.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include <fmt/format.h>

#include "cli/Cli.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {
namespace {

constexpr const char* kSource = "kvaction";
constexpr std::string_view kBase64 = "base64";
// Attachment types: 0 a link, 1 uploaded content.
constexpr int16_t kLink = 0;
constexpr int16_t kUpload = 1;

[[noreturn]] void Fail(std::string description) {
  throw vb::ComError(vb::kInvalidProcedureCall, kSource, std::move(description));
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) Fail(fmt::format("Cannot read {}.", file.string()));
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string ToBase64(const std::string& bytes) {
  std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(bytes.data()),
                    bytes.size(), sodium_base64_VARIANT_ORIGINAL);
  text.pop_back();  // the terminating zero
  return text;
}

std::string FromBase64(const std::string& text) {
  std::string bytes(text.size() / 4 * 3 + 3, '\0');
  std::size_t length = 0;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(),
                        text.size(), " \r\n", &length, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0) {
    Fail("The attachment's content is not valid base64.");
  }
  bytes.resize(length);
  return bytes;
}

struct AttachArgs {
  std::string target;
  bool byID = false;
  std::string file;
  std::string link;
  std::string description;
  int32_t attachmentID = 0;
  std::string output;
};

void RegisterAdd(CLI::App& attach, Options& options, const std::shared_ptr<AttachArgs>& args) {
  auto* add = attach.add_subcommand(
      "add", "Attach FILE (uploaded under the AttachmentPath setting) or a link to action N");
  add->add_option("N", args->target, "Action number")->required();
  auto* file = add->add_option("FILE", args->file, "File to upload");
  auto* link = add->add_option("--link", args->link, "URL to attach instead of a file");
  file->excludes(link);
  add->add_option("--description", args->description,
                  "Description (default: the file's name or the URL)");
  add->add_flag("--id", args->byID, "Name the action by ActionID instead of ActionNumber");
  add->callback([args, &options] {
    if (args->file.empty() == args->link.empty()) Fail("Give either FILE or --link URL.");
    Session session(options);
    kvaction::Action& action = session.action();
    const int32_t actionID = ActionIDOf(action, args->target, args->byID);
    int32_t id = 0;
    if (!args->link.empty()) {
      id = action.addAttachment(
          actionID, args->description.empty() ? args->link : args->description, args->link, kLink);
    } else {
      const std::string name = std::filesystem::path(args->file).filename().string();
      std::string data = ToBase64(ReadFile(args->file));
      id = action.addAttachment(actionID, args->description.empty() ? name : args->description,
                                name, kUpload, kBase64, &data);
    }
    if (id == 0) Fail("No attachment was stored.");
    std::cout << "Added attachment " << id << ".\n";
  });
}

void RegisterGet(CLI::App& attach, Options& options, const std::shared_ptr<AttachArgs>& args) {
  auto* get = attach.add_subcommand("get", "Write an uploaded attachment's content");
  get->add_option("ID", args->attachmentID, "Attachment ID")->required();
  get->add_option("--output", args->output, "File to create (default: standard output)");
  get->callback([args, &options] {
    Session session(options);
    std::string encoding;
    std::string data;
    if (!session.action().getAttachment(args->attachmentID, encoding, data)) {
      Fail(
          fmt::format("Attachment {} has no content: there is no such attachment, or it is a "
                      "link.",
                      args->attachmentID));
    }
    const std::string bytes = vb::EqualsText(encoding, kBase64) ? FromBase64(data) : data;
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
  auto* attach = app.add_subcommand("attach", "Files and links attached to actions");
  attach->require_subcommand(1);
  RegisterAdd(*attach, options, args);

  auto* list = attach->add_subcommand("list", "List the attachments of action N");
  list->add_option("N", args->target, "Action number")->required();
  list->add_flag("--id", args->byID, "Name the action by ActionID instead of ActionNumber");
  list->callback([args, &options] {
    Session session(options);
    kvaction::Action& action = session.action();
    PrintRecordset(std::cout,
                   *action.AttachmentRecordset(ActionIDOf(action, args->target, args->byID)),
                   options);
  });

  RegisterGet(*attach, options, args);

  auto* remove = attach->add_subcommand("rm", "Remove an attachment and its content");
  remove->add_option("ID", args->attachmentID, "Attachment ID")->required();
  remove->callback([args, &options] {
    Session session(options);
    session.action().DeleteAttachment(args->attachmentID);
    std::cout << "Removed attachment " << args->attachmentID << ".\n";
  });
}

}  // namespace cli
