// The second look at list and count statements, over texts as the renderer writes them.
#include "kvdata/sql/ReadOnlyCheck.h"

#include <gtest/gtest.h>

#include "kvdata/Errors.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata::sql {
namespace {

TEST(ReadOnlyCheck, AcceptsRenderedListsAndRefusesAnythingBeyondTheActionsTable) {
  for (const char* accepted : {
           "select * from actions where reference = 'x'' union select 1' order by ActionNumber",
           R"(select count("ActionNumber") from "actions" where ("DateClosed" IS NULL) and )"
           R"(("DateDue" < TIMESTAMP '2026-12-06 00:00:00' and "AssigneeID"=?))",
           R"(Select * from "actions" where "Subject" ILIKE '%a"b%' ESCAPE '' and )"
           R"("Reviewed" <> CAST(? AS integer) and not ("DateDue" IS NULL))",
           "select * from actions where DateDue <= datetime('2024-03-15', '+3 days') LIMIT 1",
       }) {
    EXPECT_NO_THROW(CheckReadsOnlyActions(accepted)) << accepted;
  }
  for (const char* refused : {
           "select * from actions where x='' union select * from Users",
           "select * from actions where ActionID in (select ActionID from actions)",
           "select * from actions, Users",
           R"(select * from "actions" join "Users" on 1=1)",
           "select * from Users",
           "select * from actions where pg_read_file('/etc/passwd') <> ''",
           R"(select * from actions where "lo_export"(1, 'x') = 1)",
           "select * from actions; delete from actions",
           "delete from actions",
           "select * from actions where Subject = 'open",
       }) {
    EXPECT_EQ(vb::testing::ErrorOf([&] { CheckReadsOnlyActions(refused); }).number(), kSqlError)
        << refused;
  }
}

}  // namespace
}  // namespace kvdata::sql
