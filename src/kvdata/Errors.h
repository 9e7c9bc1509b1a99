#pragma once
// The data server's own error numbers (object-error base + offset) and sources.
#include <cstdint>
#include <string_view>

#include "vb/ComError.h"

namespace kvdata {

enum DataError : int32_t {
  /// The connection string is malformed, names an unknown provider or lacks a key.
  kBadConnectionString = vb::kObjectError + 2001,
  /// The database could not be opened (missing file, refused login, server unreachable).
  kOpenFailed = vb::kObjectError + 2002,
  /// A statement was refused before it ran (a second statement, invalid UTF-8, untranslatable).
  kSqlError = vb::kObjectError + 2003,
  /// The engine reported an error while running a statement.
  kEngineError = vb::kObjectError + 2004,
  /// A database already exists where one was to be created.
  kDatabaseExists = vb::kObjectError + 2005,
  /// An operation needs an open database.
  kNotOpen = vb::kObjectError + 2006,
  /// An attachment name or path is refused, or attachment content cannot be stored or read.
  kAttachmentError = vb::kObjectError + 2007,
  /// A saved query, workgroup or profile argument is refused.
  kBadArgument = vb::kObjectError + 2008,
  /// A table that an action database must have is missing.
  kMissingTable = vb::kObjectError + 2009,
};

inline constexpr std::string_view kConnectionSource = "kvDataServer.DataConnection";
inline constexpr std::string_view kServerSource = "kvDataServer.DataServer";
inline constexpr std::string_view kSettingsSource = "kvDataServer.SettingsStore";
inline constexpr std::string_view kProfileSource = "kvDataServer.UserProfile";
inline constexpr std::string_view kEventSource = "kvDataServer.EventLog";
inline constexpr std::string_view kQuerySource = "kvDataServer.QueryStore";
inline constexpr std::string_view kWorkgroupSource = "kvDataServer.WorkgroupDirectory";
inline constexpr std::string_view kAttachmentSource = "kvDataServer.AttachmentStore";

}  // namespace kvdata
