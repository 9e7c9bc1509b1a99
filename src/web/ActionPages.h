#pragma once
// One action's pages (ActionPages.cc): reading it, editing it, the review moves, the attachments,
// and creating, copying and deleting actions. Each may raise vb::ComError; the server turns it
// into an error page.
#include <cstdint>

#include "web/Site.h"

namespace web {

void ActionPage(Visit& visit, int32_t actionID);
void EditForm(Visit& visit, int32_t actionID);
void EditSave(Visit& visit, int32_t actionID);
void MoveAction(Visit& visit, int32_t actionID);
/// A comment from the form under the conversation (app::Comment); a refused text comes back in
/// the page with the reason.
void CommentSave(Visit& visit, int32_t actionID);
void AttachmentUpload(Visit& visit, int32_t actionID);
void AttachmentDownload(Visit& visit, int32_t attachmentID);
void AttachmentRemove(Visit& visit, int32_t attachmentID);
/// A picture attachment (PNG, JPEG, GIF, WebP) for showing in the action's page; 404 for others.
void AttachmentPreviewImage(Visit& visit, int32_t attachmentID);

void NewActionForm(Visit& visit);
void NewActionSave(Visit& visit);
void CopyAction(Visit& visit, int32_t actionID);
void DeleteConfirm(Visit& visit, int32_t actionID);
void DeleteAction(Visit& visit, int32_t actionID);
/// What the action page adds for these pages: whether Copy and Delete are offered.
void AddActionControls(Visit& visit, int32_t actionID, mstch::map& context);

/// A link of the old program ("/default.asp?ActionID=N") goes on to the action's page; any other
/// of its pages ("/default.asp", "/list.asp") to the person's list.
void OldActionLink(Visit& visit);

}  // namespace web
