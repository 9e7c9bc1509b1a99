#include "ado/Recordset.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ado/Errors.h"
#include "vb/Date.h"
#include "vb/testing/ErrorOf.h"

namespace ado {
namespace {

using vb::Variant;

using vb::testing::ErrorOf;

// An in-memory record set as the library builds them: ID, Name (20 characters), Due, Done.
RecordsetPtr MemoryRecordset() {
  RecordsetPtr rs = Recordset::Create();
  rs->SetLocale(vb::Locale::EnUS());
  rs->Fields().Append("ID", adInteger, 0, adFldUnspecified);
  rs->Fields().Append("Name", adVarChar, 20, adFldUnspecified);
  rs->Fields().Append("Due", adDate, 0, adFldUnspecified);
  rs->Fields().Append("Done", adBoolean, 0, adFldUnspecified);
  rs->Open();
  return rs;
}

// ... with rows ID 1..n named "row<ID>".
RecordsetPtr MemoryRecordset(int32_t n) {
  RecordsetPtr rs = MemoryRecordset();
  for (int32_t id = 1; id <= n; ++id) {
    rs->AddNew({"ID", "Name"}, {Variant(id), Variant("row" + std::to_string(id))});
  }
  rs->MoveFirst();
  return rs;
}

int32_t CurrentId(Recordset& rs, std::string_view key = "ID") {
  return std::get<int32_t>(rs[key].Value().storage());
}

// Takes the steps named by letters (n next, p previous, f first, l last, d delete, c count) and
// writes where each left the record set: the current ID, BOF, EOF, BOF+EOF or "gone" for a
// deleted row; a count is written as #N before it.
std::string Walk(Recordset& rs, std::string_view steps) {
  std::string seen;
  for (const char step : steps) {
    if (step == 'n') rs.MoveNext();
    if (step == 'p') rs.MovePrevious();
    if (step == 'f') rs.MoveFirst();
    if (step == 'l') rs.MoveLast();
    if (step == 'd') rs.Delete();
    if (!seen.empty()) seen += ' ';
    if (step == 'c') seen += '#' + std::to_string(rs.RecordCount()) + ' ';
    if (rs.IsBOF() || rs.IsEOF()) {
      seen += rs.IsEOF() ? (rs.IsBOF() ? "BOF+EOF" : "EOF") : "BOF";
    } else {
      try {
        seen += std::to_string(CurrentId(rs));
      } catch (const vb::ComError& e) {
        seen += e.number() == kNoCurrentRecord ? "gone" : e.description();
      }
    }
  }
  return seen;
}

TEST(RecordsetErrors, EachMisuseRaisesItsError) {
  using R = Recordset&;
  const auto onClosed = [](R r, auto call) {
    Field id = r["ID"];
    r.Close();
    call(r, id);
  };
  const auto atEOF = [](R r) { r.MoveLast(), r.MoveNext(); };
  const auto withRows = [](R r, std::vector<Row> rows) {
    r.OpenWithRows({FieldInfo{"ID", adInteger, 4, 0}}, std::move(rows), adOpenStatic, adUseClient,
                   adLockReadOnly, {});
  };
  // Each call runs on a fresh record set of three rows, current on the first.
  const std::pair<int32_t, std::function<void(R)>> cases[] = {
      {kObjectOpen, [](R r) { r.Open(); }},
      {kObjectOpen, [](R r) { r.Fields().Append("X", adInteger); }},
      {kAlreadyInCollection, [](R r) { r.Close(), r.Fields().Append("id", adInteger); }},
      {kBadArguments, [](R) { Recordset::Create()->Fields().Append("", adInteger); }},
      {kItemNotFound, [](R) { (void)Recordset::Create()->Fields().Item(0); }},
      {kItemNotFound, [](R r) { (void)r["Missing"]; }},
      {kObjectClosed, [&](R r) { onClosed(r, [](R c, Field) { c.MoveFirst(); }); }},
      {kObjectClosed, [&](R r) { onClosed(r, [](R c, Field) { (void)c.IsEOF(); }); }},
      {kObjectClosed, [&](R r) { onClosed(r, [](R c, Field) { c.Close(); }); }},
      {kObjectClosed, [&](R r) { onClosed(r, [](R, Field id) { (void)id.Value(); }); }},
      {kObjectClosed, [&](R r) { onClosed(r, [](R, Field id) { id.Value(Variant(1)); }); }},
      {vb::kOverflow, [](R r) { r["ID"].Value(1e12); }},
      {kMultipleStep, [](R r) { r["Name"].Value(std::string(21, 'x')); }},
      {kItemNotFound, [](R r) { r.Update({"Nope"}, {Variant("y")}); }},
      {kBadArguments, [](R r) { r.Update({"Name"}, {}); }},
      {kNoCurrentRecord, [&](R r) { atEOF(r), r.MoveNext(); }},
      {kNoCurrentRecord, [](R r) { r.MovePrevious(), r.MovePrevious(); }},
      {kNoCurrentRecord, [&](R r) { atEOF(r), (void)r["ID"].Value(); }},
      {kNoCurrentRecord, [&](R r) { atEOF(r), r.Find("ID = 1"); }},
      {kNoCurrentRecord, [](R r) { r.Delete(), (void)r["ID"].Value(); }},
      {kNoCurrentRecord, [](R r) { r.Delete(), r["ID"].Value(Variant(9)); }},
      {kNoCurrentRecord, [](R r) { r.Delete(), r.Delete(); }},
      {kBadArguments, [](R r) { r.Delete(adAffectAll); }},
      {kBadArguments, [](R r) { (void)r.Clone(adLockOptimistic); }},
      {kBadArguments, [](R r) { r.Find("ID = "); }},
      {kItemNotFound, [](R r) { r.Find("Missing = 1"); }},
      {kConnectionUnusable, [](R) { Recordset::Create()->Open(); }},
      {kNoCurrentRecord, [&](R r) { atEOF(r), (void)r.EditMode(); }},
      {kNoCurrentRecord, [](R) { (void)MemoryRecordset()->EditMode(); }},
      {kBadArguments, [](R r) { r.Find("ID = 1", -1); }},
      {kBadArguments, [](R r) { r.Find("ID = 1", 0, static_cast<SearchDirectionEnum>(0)); }},
      {kBadArguments, [](R r) { r.Find("ID = 1", 0, adSearchForward, BookmarkEnum{7}); }},
      {kReadOnly, [](R r) { r.Clone(adLockReadOnly)->AddNew(); }},
      {kReadOnly, [](R r) { r.Clone(adLockReadOnly)->Fields()["Name"].Value("x"); }},
      {kReadOnly, [](R r) { r.Clone(adLockReadOnly)->Update({"Name"}, {Variant("x")}); }},
      {kReadOnly, [](R r) { r.Clone(adLockReadOnly)->Delete(); }},
      {kObjectOpen, [&](R r) { withRows(r, {}); }},
      {kObjectOpen, [](R r) { r.OpenStreaming(std::vector<FieldInfo>{}, {}, adUseServer); }},
      {kBadArguments, [&](R) { withRows(*Recordset::Create(), {Row{}}); }},
      // The row was deleted through another cursor while this one edited it.
      {kRowNotLocated,
       [](R r) { r["Name"].Value("x"), r.Clone(adLockUnspecified)->Delete(), r.Update(); }}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    RecordsetPtr rs = MemoryRecordset(3);
    EXPECT_EQ(ErrorOf([&] { cases[i].second(*rs); }).number(), cases[i].first) << "case " << i;
  }
}

TEST(RecordsetErrors, FailedCallsLeaveRowCursorAndEditAlone) {
  RecordsetPtr rs = MemoryRecordset(3);
  rs->MoveNext();
  EXPECT_EQ(ErrorOf([&] { rs->Find("ActionID = 5"); }).number(), kItemNotFound);  // no such field
  EXPECT_EQ(ErrorOf([&] { rs->Fields()["ID"].Value("abc"); }).number(), vb::kTypeMismatch);
  // Field lists: all or nothing.
  const std::vector<std::string> names = {"Name", "ID"};
  const std::vector<Variant> values = {Variant("y"), Variant("z")};
  EXPECT_EQ(ErrorOf([&] { rs->Update(names, values); }).number(), vb::kTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { rs->AddNew(names, values); }).number(), vb::kTypeMismatch);
  EXPECT_EQ(CurrentId(*rs), 2);
  EXPECT_EQ(rs->Fields()["Name"].Value(), Variant("row2"));
  EXPECT_EQ(rs->EditMode(), adEditNone);
  EXPECT_EQ(rs->RecordCount(), 3);
}

TEST(RecordsetOpen, InMemoryRecordSetStartsEmptyAndReopensWithItsFields) {
  const RecordsetPtr unopened = Recordset::Create();
  EXPECT_EQ(unopened->CursorType(), adOpenForwardOnly);
  EXPECT_EQ(unopened->LockType(), adLockReadOnly);
  RecordsetPtr rs = MemoryRecordset();
  EXPECT_TRUE(rs->IsBOF() && rs->IsEOF());
  EXPECT_EQ(rs->LockType(), adLockBatchOptimistic);
  EXPECT_EQ(ErrorOf([&] { (void)rs->Fields()["ID"].Value(); }).number(), kNoCurrentRecord);
  rs->Close();
  EXPECT_EQ(rs->State(), adStateClosed);
  rs->Open();
  EXPECT_EQ(rs->Fields()["name"].DefinedSize(), 20);
  EXPECT_EQ(rs->RecordCount(), 0);
}

TEST(FieldValue, ConvertsToTheFieldsTypeAndCountsCharacters) {
  RecordsetPtr rs = MemoryRecordset();
  rs->AddNew();
  EXPECT_EQ(rs->EditMode(), adEditAdd);
  EXPECT_TRUE(rs->Fields()["Name"].Value().IsNull());  // unset fields of a new row are Null
  rs->Fields()["ID"].Value("12");
  rs->Fields()["Name"].Value(int32_t{7});
  rs->Fields()["Due"].Value("3/4/2021");
  rs->Fields()["Done"].Value("True");
  EXPECT_EQ(rs->Fields()["ID"].Value(), Variant(int32_t{12}));
  EXPECT_EQ(rs->Fields()["Name"].Value(), Variant("7"));
  EXPECT_EQ(rs->Fields()["Due"].Value(), Variant(vb::Date::FromParts(2021, 3, 4)));
  EXPECT_EQ(rs->Fields()["Done"].Value(), Variant(true));
  rs->Fields()["Name"].Value("\xC3\xA9" + std::string(19, 'x'));  // 20 characters, 21 bytes
  rs->Fields()["Name"].Value(Variant{});
  EXPECT_TRUE(rs->Fields()["Name"].Value().IsNull());

  RecordsetPtr memo = Recordset::Create();
  memo->Fields().Append("Body", adLongVarChar, 10);
  memo->Open();
  memo->AddNew({"Body"}, {Variant(std::string(100, 'b'))});  // long texts have no limit
  EXPECT_EQ(memo->Fields()["Body"].Value(), Variant(std::string(100, 'b')));
}

TEST(RecordsetUpdate, StoresTheEditAsTheOriginalAndCancelDropsEditAndAddedRow) {
  RecordsetPtr rs = MemoryRecordset(2);
  rs->Fields()["Name"].Value("changed");
  EXPECT_EQ(rs->EditMode(), adEditInProgress);
  EXPECT_EQ(rs->Fields()["Name"].OriginalValue(), Variant("row1"));
  rs->Update();
  EXPECT_EQ(rs->EditMode(), adEditNone);
  EXPECT_EQ(rs->Fields()["Name"].OriginalValue(), Variant("changed"));
  rs->Update();  // nothing pending: nothing happens
  rs->Update({"Name", "Done"}, {Variant("x"), Variant(true)});
  EXPECT_EQ(rs->Fields()["Name"].Value(), Variant("x"));

  rs->MoveLast();
  rs->AddNew();
  EXPECT_EQ(rs->RecordCount(), 3);
  rs->CancelUpdate();
  EXPECT_EQ(rs->RecordCount(), 2);
  EXPECT_EQ(CurrentId(*rs), 2);  // back on the row current before AddNew
  rs->Fields()["Name"].Value("edited");
  rs->CancelUpdate();
  EXPECT_EQ(rs->Fields()["Name"].Value(), Variant("row2"));
}

TEST(RecordsetMove, StoresAPendingEditFirst) {
  RecordsetPtr rs = MemoryRecordset(2);
  rs->Fields()["Name"].Value("first");
  rs->MoveNext();
  rs->AddNew({"ID"}, {Variant(int32_t{3})});
  rs->Fields()["Name"].Value("third");
  rs->MoveFirst();
  EXPECT_EQ(rs->Fields()["Name"].Value(), Variant("first"));
  rs->MoveLast();
  EXPECT_EQ(rs->Fields()["Name"].Value(), Variant("third"));
}

TEST(RecordsetFind, FindsFromEachStartInEitherDirection) {
  RecordsetPtr rs = MemoryRecordset(6);
  rs->MoveLast();
  const struct {
    const char* criteria;
    int32_t skip;
    SearchDirectionEnum direction;
    BookmarkEnum start;
    int32_t id;  // 0: EOF forwards, BOF backwards
  } steps[] = {{"ID = 5", 0, adSearchForward, adBookmarkFirst, 5},
               {"ID < 3", 0, adSearchBackward, adBookmarkCurrent, 2},
               {"ID < 3", 1, adSearchBackward, adBookmarkCurrent, 1},  // skipping the current row
               {"Name like 'ROW*'", 2, adSearchForward, adBookmarkCurrent, 3},
               {"ID > 0", 0, adSearchBackward, adBookmarkLast, 6},
               {"ID=9", 0, adSearchForward, adBookmarkFirst, 0},
               {"Name = ROW4", 0, adSearchForward, adBookmarkFirst, 4},  // unquoted text
               {"ID = 9", 0, adSearchBackward, adBookmarkLast, 0}};
  for (const auto& step : steps) {
    rs->Find(step.criteria, step.skip, step.direction, step.start);
    if (step.id != 0) {
      EXPECT_EQ(CurrentId(*rs), step.id) << step.criteria;
    } else {
      const bool forward = step.direction == adSearchForward;
      EXPECT_TRUE(forward ? rs->IsEOF() && !rs->IsBOF() : rs->IsBOF()) << step.criteria;
    }
  }
}

TEST(RecordsetFind, SkipsDeletedRowsAndFindsNothingInAnEmptyRecordSet) {
  RecordsetPtr rs = MemoryRecordset(3);
  rs->Find("ID = 2");
  rs->Delete();
  rs->Find("ID > 0", 1);  // the next live row after the deleted current one
  EXPECT_EQ(CurrentId(*rs), 3);
  rs->Find("ID = 2", 0, adSearchForward, adBookmarkFirst);
  EXPECT_TRUE(rs->IsEOF());

  RecordsetPtr empty = MemoryRecordset();
  empty->Find("ID = 1", 0, adSearchForward, adBookmarkFirst);
  EXPECT_TRUE(empty->IsEOF() && empty->IsBOF());
}

TEST(RecordsetClone, SharesRowsWithItsOwnCursor) {
  RecordsetPtr rs = MemoryRecordset(3);
  rs->MoveLast();
  RecordsetPtr clone = rs->Clone(adLockUnspecified);
  EXPECT_EQ(clone->LockType(), rs->LockType());
  EXPECT_EQ(CurrentId(*clone), 1);
  EXPECT_EQ(CurrentId(*rs), 3);

  clone->Find("ID = 3");
  clone->Fields()["Name"].Value("through clone");
  EXPECT_EQ(rs->Fields()["Name"].Value(), Variant("row3"));  // pending edits are not shared
  clone->Update();
  EXPECT_EQ(rs->Fields()["Name"].Value(), Variant("through clone"));

  clone->AddNew({"ID"}, {Variant(int32_t{4})});
  clone->MoveFirst();
  clone->Delete();
  EXPECT_EQ(rs->RecordCount(), 3);
  rs->MoveFirst();
  EXPECT_EQ(CurrentId(*rs), 2);

  rs->Close();  // the clone keeps the rows
  EXPECT_EQ(clone->RecordCount(), 3);
}

// Rows held in memory, or streamed: one row held, the query run again only when rows already
// passed are needed. Each case: the steps taken, where each left the record set and how many
// times the query ran.
TEST(RecordsetMove, WalksLiveRowsStopsAtTheEndsAndStreamsForwards) {
  struct Rows final : RowSource {
    int32_t next = 1;
    int32_t count;
    explicit Rows(int32_t n) : count(n) {}
    bool Next(std::vector<Variant>& values) override {
      if (next > count) return false;
      values = {Variant(next++)};
      return true;
    }
  };
  const struct {
    bool streamed;
    int32_t rows;
    const char* steps;
    const char* seen;
    int runs;
  } cases[] = {
      {false, 3, "nnnpfpn", "2 3 EOF 3 1 BOF 1", 0},
      {false, 3, "ndcnpdndf", "2 gone #2 gone 3 1 gone 3 gone BOF+EOF", 0},
      {true, 3, "nnn", "2 3 EOF", 1},
      {true, 3, "f", "1", 1},
      {true, 3, "nf", "2 1", 2},  // back to the first
      {true, 3, "c", "#3 1", 1},
      {true, 3, "ncl", "2 #3 2 3", 2},  // counted midway
      {true, 3, "nnp", "2 3 2", 2},
      {true, 0, "f", "BOF+EOF", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.steps);
    int runs = 0;
    RecordsetPtr rs = MemoryRecordset(c.rows);
    if (c.streamed) {
      rs = Recordset::Create();
      rs->OpenStreaming(
          {FieldInfo{"ID", adInteger, 4, 0}},
          [&runs, n = c.rows] { return ++runs, std::make_unique<Rows>(n); }, adUseServer);
      EXPECT_EQ(rs->LockType(), adLockReadOnly);
    }
    EXPECT_EQ(Walk(*rs, c.steps), c.seen);
    EXPECT_EQ(runs, c.runs);
  }
}

TEST(AdoError, CarriesAdosNumberTextAndSource) {
  const vb::ComError e = Error(kNoCurrentRecord);
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800A0BCD));
  EXPECT_EQ(e.source(), "ADODB.Recordset");
  EXPECT_EQ(e.description(),
            "Either BOF or EOF is True, or the current record has been deleted. Requested "
            "operation requires a current record.");
  EXPECT_EQ(Error(kItemNotFound, "ADODB.Fields").source(), "ADODB.Fields");
}

}  // namespace
}  // namespace ado
