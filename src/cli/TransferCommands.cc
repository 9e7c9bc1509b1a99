// export and import: actions as CSV. export writes the rows a list would show, every column,
// dates in ISO 8601; import hands such a file (or one with only some columns) to app/, which
// checks every row and stores all of them or none.
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "app/Import.h"
#include "app/Lists.h"
#include "cli/Cli.h"
#include "cli/Fields.h"
#include "vb/Convert.h"

namespace cli {
namespace {

void RegisterExport(CLI::App& app, Options& options) {
  struct Args {
    std::optional<int32_t> query;
    std::string output;
    std::string sort;
  };
  auto args = std::make_shared<Args>();
  auto* exported = app.add_subcommand(
      "export", "Write actions as CSV, every column (your open ones, or a saved query's)");
  exported->add_option("--query", args->query, "A saved query's ID");
  exported->add_option("--sort", args->sort, "Order, e.g. \"ActionNumber\"");
  exported->add_option("--output", args->output, "File to create (default: standard output)");
  OnClient(*exported, options, [args](Client& client) {
    ListQuery query;
    query.queryID = args->query;
    query.sort = args->sort;
    const ado::RecordsetPtr rs = client.List(query);
    std::ofstream file;
    if (!args->output.empty()) {
      file.open(args->output, std::ios::binary | std::ios::trunc);
      if (!file) Fail(fmt::format("Cannot write {}.", args->output));
    }
    std::ostream& out = args->output.empty() ? std::cout : file;
    PrintRecordset(out, *rs, Format::kCsv, client.locale());
    if (!out.flush()) Fail(fmt::format("Cannot write {}.", args->output));
  });
}

void RegisterImport(CLI::App& app, Options& options) {
  auto file = std::make_shared<std::string>();
  auto* imported = app.add_subcommand(
      "import",
      "Add the actions of a CSV file (a header row of column names, as export writes): every "
      "row is checked first, and either all are stored or none");
  imported->add_option("FILE", *file, "The CSV file (- for standard input)")->required();
  OnClient(*imported, options, [file](Client& client) {
    std::ifstream stream;
    if (*file != "-") {
      stream.open(*file, std::ios::binary);
      if (!stream) Fail(fmt::format("Cannot read {}.", *file));
    }
    std::istream& in = *file == "-" ? std::cin : stream;
    // Read whole: through a server the file is one request, and all or none of it is stored.
    const std::string csv{std::istreambuf_iterator<char>(in), {}};
    const app::ImportResult result = client.ImportCsv(csv);
    if (!result.problems.empty()) {
      std::string text = "Nothing was imported:";
      for (const app::ImportProblem& problem : result.problems) {
        text += fmt::format("\n  line {}: {}", problem.row, problem.message);
      }
      Fail(text);
    }
    const std::size_t count = result.added.size();
    std::cout << "Imported " << count << (count == 1 ? " action.\n" : " actions.\n");
  });
}

}  // namespace

void RegisterTransferCommands(CLI::App& app, Options& options) {
  RegisterExport(app, options);
  RegisterImport(app, options);
}

}  // namespace cli
