// The reads, each against the raw driver doing the same work: the statement texts the library
// sends (as the engine receives them, values bound as the library binds them) and every column
// of every row read, on 10,000 and 1,000,000 actions (see BenchDatabase.h), on SQLite and
// PostgreSQL. The user "bench" owns the same 40 actions at both sizes, so a read that follows
// the answer costs the same at both. AlertRecords lists every overdue open action (a quarter of
// the table): it runs on 10,000 actions only.
//
// Names are "operation/paired/engine/actions": each run times the library and the raw side in
// alternation (Paired.h). The plans of the alert count and of
// the default list on the large tables go to standard error.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <iostream>

#include "BenchDatabase.h"
#include "Paired.h"
#include "Raw.h"
#include "ado/Recordset.h"

namespace {

using bench::Params;

// One read: what the library calls, and the statements the raw side sends for it on each
// engine (text and values; one entry per statement, in the library's order).
struct Statement {
  std::string sqlite;
  std::string pg;
  std::function<Params(int64_t)> values;  // by iteration
  // Set for a statement whose text and values follow from the answer of the one before it (the
  // people an action names): given the engine (PostgreSQL or not) and that answer.
  std::function<std::pair<std::string, Params>(bool pg, const bench::Outcome& previous)> follows =
      nullptr;
};
struct Read {
  const char* name;
  std::function<void(kvaction::Action&, int64_t)> library;
  std::vector<Statement> statements;
  bool largeTable = true;
  // The library streams the answer (forward-only, read-only): the raw side drops each row as
  // read too. Elsewhere the library's record set holds the answer, and the raw side keeps it.
  bool streamed = false;
};

// Every field of every row, as the raw side reads every column.
void ReadAll(const ado::RecordsetPtr& rs) {
  if (!rs) return;
  auto fields = rs->Fields();
  const int32_t count = fields.Count();
  for (; !rs->IsEOF(); rs->MoveNext()) {
    for (int32_t i = 0; i < count; ++i) benchmark::DoNotOptimize(fields.Item(i).Value());
  }
}

// The columns the lists' text search looks in (app::SearchColumns), and its statement as the
// lists write it for a text the trigram index does not serve (shorter than three characters, or
// in more than 5,000 actions), around head and tail; on PostgreSQL as it reaches the engine (like
// is ILIKE there, and the names are quoted).
const std::vector<std::string> kSearchColumns = {
    "Subject",   "Description", "Result",   "Results",    "Category",   "Priority",
    "Reference", "ReferenceID", "Assignee", "AssigneeID", "Originator", "OriginatorID"};
std::string SearchStatement(std::string_view text, std::string_view head, std::string_view tail,
                            bool pg) {
  std::vector<std::string> each;
  for (const auto& column : kSearchColumns) {
    each.push_back(pg ? fmt::format("cast(\"{}\" as text) ILIKE '%{}%' escape '\\'", column, text)
                      : fmt::format("cast({} as text) like '%{}%' escape '\\'", column, text));
  }
  return fmt::format("{} from {} where ({}){}", head, pg ? "\"actions\"" : "actions",
                     fmt::join(each, " or "), tail);
}

// An action of the table, a different one each iteration (so that every key is new to both).
int64_t Key(int64_t iteration, int64_t rows) { return (iteration * 7919) % rows + 1; }

// A search of text: its page (the list's statement), or the count of its matches.
Read SearchRead(const char* name, std::string text, bool page) {
  const std::string head = page ? "select top 51 *" : "select count(*) as n";
  const std::string tail = page ? " order by ActionNumber" : "";
  return {name,
          [library = SearchStatement(text, head, tail, false)](kvaction::Action& a, int64_t) {
            ReadAll(a.Recordset(library, ado::adOpenForwardOnly, ado::adUseServer,
                                ado::adLockReadOnly));
          },
          {{SearchStatement(text, page ? "select *" : head,
                            page ? " order by ActionNumber limit 51" : "", false),
            SearchStatement(text, page ? "select *" : head,
                            page ? " order by \"ActionNumber\" LIMIT 51" : "", true),
            [](int64_t) { return bench::Params{}; }}},
          true,
          true};
}

std::vector<Read> Reads(int64_t rows) {
  const auto none = [](int64_t) { return Params{}; };
  const auto bench2 = [](int64_t) { return Params{"bench", "bench"}; };
  const auto key = [rows](int64_t i) { return Params{Key(i, rows)}; };
  // EmailData: the action's columns the notice reads, the addresses of the people it names (the
  // sender first, each once), then the nine labels; the library sends these texts to either
  // engine as they are.
  const auto anyOf = [](std::string_view column, std::size_t count) {
    std::string condition;
    for (std::size_t k = 0; k < count; ++k) {
      condition += fmt::format("{}\"{}\"=?", k == 0 ? "" : " or ", column);
    }
    return condition;
  };
  const std::string labelsSql =
      R"(select "ConfigKey", "ValueType", "ValueText" from "ActionConfig" where )" +
      anyOf("ConfigKey", 9);
  const Statement emailLabels{
      labelsSql, labelsSql, [](int64_t) {
        Params keys;
        for (const char* label : {"Action", "Originator", "Assignee", "DateOpened", "DateDue",
                                  "DateClosed", "Reference", "Description", "Result"}) {
          keys.emplace_back(std::string("Label.") + label);
        }
        return keys;
      }};
  const auto emailPeople = [anyOf](bool, const bench::Outcome& action) {
    Params people{bench::kUser};
    std::vector<std::string> seen{bench::kUser};
    for (const char* column : {"AssigneeID", "OriginatorID"}) {
      const std::string id = action.Cell(column);
      if (id.empty() || std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
      seen.push_back(id);
      people.emplace_back(id);
    }
    return std::pair{
        R"(select "UserID", "Email" from "Users" where )" + anyOf("UserID", people.size()), people};
  };
  const std::string actionSql = R"(select * from "actions" where "ActionID"=?)";
  const std::vector<Statement> email = {
      {actionSql, actionSql, key}, {"", "", nullptr, emailPeople}, emailLabels};
  const std::string groupSql = R"(select "UserID", "GroupID" from "Users" where "UserID"=?)";
  return {
      {"Alerts",
       [](kvaction::Action& a, int64_t) { benchmark::DoNotOptimize(a.Alerts()); },
       {{"select count(ActionNumber) from actions where (dateclosed IS NULL) and ((dateDue < "
         "'2024-03-15 00:00:00' and (AssigneeID=? or OriginatorID=?)) or (Alert <> ? and "
         "AssigneeID = ? and Reviewed < ?) or (Alert <> ? and OriginatorID = ? and Reviewed >= "
         "?))",
         "select count(\"ActionNumber\") from \"actions\" where (\"DateClosed\" IS NULL) and "
         "((\"DateDue\" < TIMESTAMP '2024-03-15 00:00:00' and (\"AssigneeID\"=? or "
         "\"OriginatorID\"=?)) or (\"Alert\" <> CAST(? AS integer) and \"AssigneeID\" = ? and "
         "\"Reviewed\" < CAST(? AS integer)) or (\"Alert\" <> CAST(? AS integer) and "
         "\"OriginatorID\" = ? and \"Reviewed\" >= CAST(? AS integer)))",
         [](int64_t) { return Params{"bench", "bench", 0, "bench", 10, 0, "bench", 10}; }}}},
      {"default list",
       [](kvaction::Action& a, int64_t) {
         ReadAll(a.QueriedRecordset(0, {}, ado::adOpenForwardOnly, ado::adUseServer,
                                    ado::adLockReadOnly));
       },
       {{"Select * from actions where (AssigneeID=? or OriginatorID=?) and dateClosed is Null",
         "Select * from \"actions\" where (\"AssigneeID\"=? or \"OriginatorID\"=?) and "
         "\"DateClosed\" is Null",
         bench2}},
       true,
       true},
      {"DataRecord",
       [rows](kvaction::Action& a, int64_t i) {
         ReadAll(a.DataRecord(static_cast<int32_t>(Key(i, rows))));
       },
       {{"select * from actions where ActionID =?",
         "select * from \"actions\" where \"ActionID\" =CAST(? AS integer)", key}}},
      {"ReferenceRecordset",
       [](kvaction::Action& a, int64_t) { ReadAll(a.ReferenceRecordset("R7")); },
       {{"select * from actions where reference = ?",
         "select * from \"actions\" where \"Reference\" = ?",
         [](int64_t) { return Params{"R7"}; }}}},
      {"AlertRecords",
       [](kvaction::Action& a, int64_t) { ReadAll(a.AlertRecords()); },
       {{"select * from actions where dateclosed is null and datedue < '2024-03-15 00:00:00'",
         "select * from \"actions\" where \"DateClosed\" is null and \"DateDue\" < TIMESTAMP "
         "'2024-03-15 00:00:00'",
         none}},
       false},
      {"EmailData",
       [rows](kvaction::Action& a, int64_t i) {
         ReadAll(a.EmailData(static_cast<int32_t>(Key(i, rows))));
       },
       email},
      {"editingRights",
       [](kvaction::Action& a, int64_t) { ReadAll(a.editingRights("", "", "bench", "boss", "")); },
       {{groupSql, groupSql, [](int64_t) { return Params{"bench"}; }}}},
      // The text search of the lists (app::List with grep): a page of 50 (its statement asks for
      // one more) and the count the page's pager shows. Every subject holds "bench", so its
      // page is read from the first rows; "R7" is in the 40 actions of "bench" only, so its page
      // and every count read the whole table: the worst case.
      SearchRead("search page, common text", "bench", true),
      SearchRead("search page, rare text", "R7", true),
      SearchRead("search count", "R7", false),
  };
}

// The library's side of a read: a logged-in client, a different key each call.
bench::Step LibrarySide(const Read& read, int64_t rows, int64_t engine) {
  return [&read, action = std::shared_ptr(bench::LoggedIn(rows, engine)),
          i = int64_t{0}]() mutable { read.library(*action, i++); };
}

// One run of a read's statements on a raw client (kept out of line, so that a profile shows
// the raw side's cost per call beside the library's).
template <class Db>
[[gnu::noinline]] void RunStatements(Db& db, const Read& read, int64_t i, bool pg) {
  bench::Outcome previous;
  for (const Statement& s : read.statements) {
    if (s.follows) {
      const auto [sql, values] = s.follows(pg, previous);
      previous = db.Run(sql, values);
    } else {
      previous = db.Run(pg ? s.pg : s.sqlite, s.values(i));
    }
  }
}

template <class Db>
bench::Step RawSide(const Read& read, std::shared_ptr<Db> db, bool pg) {
  db->KeepRows(!read.streamed);
  return [&read, db, pg, i = int64_t{0}]() mutable { RunStatements(*db, read, i++, pg); };
}

bench::Step RawSide(const Read& read, int64_t rows, int64_t engine) {
  if (engine == bench::kSQLite) {
    return RawSide(read, std::make_shared<bench::RawSqlite>(bench::Path(rows)), false);
  }
  return RawSide(read, std::make_shared<bench::RawPg>(bench::ConnectionString(rows, engine)), true);
}

// Each side runs the read once before timing: a new server session reads its catalog and the
// statements are prepared on their first run, which with few timed iterations (a loaded server)
// would otherwise be most of what is measured.
void Paired(benchmark::State& state, const Read& read, int64_t rows, int64_t engine) {
  const bench::Step library = LibrarySide(read, rows, engine);
  const bench::Step raw = RawSide(read, rows, engine);
  library();
  raw();
  bench::RunPaired(state, library, raw, bench::CallsPerTurn(library, 1024));
}

void PrintPlans() {
  const std::string list =
      "Select * from actions where (AssigneeID='bench' or OriginatorID='bench') and dateClosed "
      "is Null";
  std::cerr << "SQLite plan, default list:\n"
            << bench::Plan(bench::OpenRaw(bench::Path(1'000'000)).get(), list);
  if (std::getenv("KV_TEST_PG") == nullptr) return;
  const auto conn = bench::PgConnect(bench::ConnectionString(1'000'000, bench::kPostgreSQL));
  std::cerr << "PostgreSQL plan, default list:\n"
            << bench::PgPlan(conn.get(),
                             "Select * from \"actions\" where (\"AssigneeID\"=$1 or "
                             "\"OriginatorID\"=$1) and \"DateClosed\" is Null",
                             bench::kUser);
}

}  // namespace

int main(int argc, char** argv) {
  const bool withPg = std::getenv("KV_TEST_PG") != nullptr;
  const bool small = std::getenv("KV_BENCH_SMALL_ONLY") != nullptr;
  const bool quick = std::getenv("KV_BENCH_QUICK") != nullptr;
  static std::vector<std::pair<int64_t, std::vector<Read>>> reads;
  for (const int64_t rows : {int64_t{10'000}, int64_t{1'000'000}}) {
    if (small && rows > 10'000) continue;
    reads.emplace_back(rows, Reads(rows));
  }
  for (const auto& [rows, list] : reads) {
    for (const Read& read : list) {
      if (!read.largeTable && rows > 10'000) continue;
      for (const int64_t engine : {bench::kSQLite, bench::kPostgreSQL}) {
        if (engine == bench::kPostgreSQL && !withPg) continue;
        const std::string name =
            fmt::format("{}/paired/{}/{}", read.name, bench::EngineName(engine), rows);
        auto* b = benchmark::RegisterBenchmark(
            name.c_str(), [&read, rows = rows, engine](benchmark::State& state) {
              try {
                Paired(state, read, rows, engine);
              } catch (const std::exception& e) {
                state.SkipWithError(e.what());
              }
            });
        b->Unit(benchmark::kMicrosecond)->UseRealTime();
        // A read of a quarter of the table takes tens of milliseconds: a quick run still
        // times several per repetition, or one disturbed call would be the whole figure.
        if (quick && !read.largeTable) b->MinTime(0.25);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  if (!small) PrintPlans();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
