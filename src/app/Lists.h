#pragma once
// Reading actions: lists (the default list, a saved query, ad-hoc filters), alerts, the due
// list, history, and saved queries. Lists come back as forward-only, read-only record sets that
// stream from the database, so a front end can print rows as they come.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "app/Session.h"

namespace app {

/// Ad-hoc filters; each set one narrows the list (a conjunction). They mean what the same
/// criteria of a saved query mean.
struct ListFilter {
  bool mine = false;                 ///< assigned to or raised by the person
  std::string assignee;              ///< user ID
  std::string originator;            ///< user ID
  std::string status;                ///< state codes, comma-separated, or "active" (see View.h)
  std::optional<int32_t> dueWithin;  ///< open and due within N days (0-32767)
  std::string category;
  std::string priority;
  std::string grep;  ///< text in any column a person reads (SearchColumns; letter case ignored)
  std::string reference;  ///< ReferenceID equals
  /// Date bounds, each inclusive and optional: a date in ISO form (yyyy-mm-dd) or the person's
  /// short date form. A saved query keeps them in its own date criteria.
  std::string dueFrom, dueTo;
  std::string openedFrom, openedTo;
  std::string completedFrom, completedTo;
  std::string closedFrom, closedTo;
};

/// The columns the text filter (grep) searches: every text column a person reads as the
/// action's data, the people by name and by user ID, and the notes.
[[nodiscard]] const std::vector<std::string>& SearchColumns();

/// The words of the status filter, in the order a front end offers them: "active" (every state
/// but closed), then the state codes.
[[nodiscard]] const std::vector<std::string>& StatusWords();

/// A list filter's texts as a front end received them, one entry per field given, by the field
/// IDs app/ names in its messages: mine, assignee, originator, status, dueWithin, category,
/// priority, grep, reference and the date bounds dueFrom, dueTo, openedFrom, openedTo,
/// completedFrom, completedTo, closedFrom, closedTo (DateFilterFields). A front end maps its own
/// names (options, form fields) to these.
using FilterTexts = std::vector<std::pair<std::string, std::string>>;
/// The filter the texts choose: the one reading of a filter for every front end. mine takes
/// true, on, 1 or nothing for yes and false or 0 for no; status state codes or "active",
/// separated by commas (letter case ignored); dueWithin a whole number of days from 0 to 32767.
/// Raises kInvalidInput naming the field for any other value, and for a field ID that is not a
/// filter's.
[[nodiscard]] ListFilter FilterOf(const FilterTexts& texts);

/// The date bounds of a filter: the field ID, the column it bounds, whether it is the upper
/// bound, and the words a front end labels it with.
struct DateFilterField {
  std::string_view field;
  std::string ListFilter::*member;
  std::string_view column;
  bool upper;
  std::string_view label;
};
[[nodiscard]] const std::vector<DateFilterField>& DateFilterFields();

/// A list request. Without queryID and filters: the person's open actions.
struct ListRequest {
  std::optional<int32_t> queryID;    ///< a saved query the person may use
  ListFilter filter;                 ///< applied on top of the query
  std::vector<std::string> columns;  ///< actions-table columns (empty: every column)
  std::string sort;                  ///< "Column [asc|desc], …" (empty: by ActionNumber)
  int32_t limit = 0;                 ///< at most this many rows (0: no limit)
  bool attention = false;            ///< the actions the alert count counts, instead of a query's
  int32_t offset = 0;                ///< rows passed over before the first one returned
  /// A continuation a page of this list gave (ListPage::next): the rows after that page's last.
  /// Not together with an offset.
  std::string after;
  /// A continuation a page of this list gave (ListPage::previous): the rows before that page's
  /// first, the nearest limit of them (ListPageOf only), still in the list's order.
  std::string before;
};

/// One page of a list and where its neighbours start.
struct ListPage {
  ado::RecordsetPtr rows;  ///< at most the request's limit, with the request's columns
  std::string previous;    ///< what ListRequest::before takes for the page before (empty: none)
  std::string next;        ///< what ListRequest::after takes for the page after (empty: none)
};

/// The columns a front end shows when none are asked for.
[[nodiscard]] const std::vector<std::string>& DefaultColumns();

/// The actions of a list request, streaming. Raises kNotFound for an unknown or foreign
/// unshared query, kInvalidInput for an unknown column, a bad sort or status word.
[[nodiscard]] ado::RecordsetPtr List(Session& session, const ListRequest& request);
/// A page of the list request: its limit (1 or more) of rows from after, before or its offset.
/// The continuations are opaque texts that name the key of a page's first or last row in the
/// list's order, so the next page is sought through the indexes wherever the rows before it are;
/// a list whose sort holds a long text or a yes/no column (whose values do not name one place in
/// the order) continues by its position instead. Raises what List raises, and kInvalidInput
/// for a continuation this list did not give.
[[nodiscard]] ListPage ListPageOf(Session& session, ListRequest request);
/// How many actions the list request holds, its limit aside: the database counts them with the
/// list's own condition (through the same indexes), so a front end can show the total and the
/// number of pages. Raises what List raises for the request's query and filter.
[[nodiscard]] int32_t ListCount(Session& session, const ListRequest& request);

/// The number of the person's alerts (Action::Alerts for the person).
[[nodiscard]] int32_t AlertCount(Session& session);
/// The actions AlertCount counts, streaming: the same condition, so the list holds exactly
/// what the count says (by due date unless request sorts otherwise; filters narrow it).
[[nodiscard]] ado::RecordsetPtr AlertList(Session& session, ListRequest request = {});
/// Open actions due within days (the person's profile "DefaultDueDays"/"AlertDays" when
/// nullopt); only the person's own with mine.
[[nodiscard]] ado::RecordsetPtr DueList(Session& session, std::optional<int32_t> days, bool mine);
/// The list request DueList reads, for reading it page by page.
[[nodiscard]] ListRequest DueRequest(Session& session, std::optional<int32_t> days, bool mine);

/// The history of an action, oldest first: EventID, EventCode, EventText, UserID, EventTime.
/// Needs right 82.
[[nodiscard]] ado::RecordsetPtr History(Session& session, int32_t actionID);

/// A saved query's criteria (the ListFilter words; mine/assignee/originator limited by right 68).
struct QueryDefinition {
  std::string name;
  ListFilter filter;
};
/// Whether a saved query can hold filter: a status it keeps (active, closed, overdue or
/// completed; dueWithin only alone or with active). Date bounds go into the query's own date
/// criteria; the text and reference filters, which its criteria cannot say, into the table
/// ActionQueryFilters beside it.
[[nodiscard]] bool FitsSavedQuery(const ListFilter& filter);
/// Saves a query (right 52; criteria naming others' actions need 68). Returns its QueryID.
int32_t QueryAdd(Session& session, const QueryDefinition& definition);
/// A saved query the person may use, read back.
struct SavedQuery {
  int32_t queryID = 0;
  std::string owner;  ///< the user who saved it
  bool shared = false;
  QueryDefinition definition;
  /// Whether definition.filter says all the query holds. A query saved elsewhere may also
  /// hold criteria a list filter has no field for (a name fragment, text in one column, a
  /// status code of its own); such a query is only run.
  bool complete = true;
};
/// The saved query queryID as the person may use it. Raises kNotFound for an unknown or
/// foreign unshared query.
[[nodiscard]] SavedQuery QueryOf(Session& session, int32_t queryID);
/// Replaces the name and criteria of one of the person's queries (a SuperUser: anyone's), with
/// the rights and checks of QueryAdd. Raises kNotFound, or a refusal for another's query.
void QueryUpdate(Session& session, int32_t queryID, const QueryDefinition& definition);

/// The queries the person may use (own and shared): QueryID, Name, UserID, Shared.
[[nodiscard]] ado::RecordsetPtr QueryList(Session& session);
/// Deletes one of the person's queries (a SuperUser: anyone's). Raises kNotFound.
void QueryDelete(Session& session, int32_t queryID);
/// Makes one of the person's queries available to everyone, or withdraws it (right 53).
void QueryShare(Session& session, int32_t queryID, bool shared);

}  // namespace app
