#pragma once
// What a data server shares with the objects it hands out: its connection and current profile.
#include <memory>
#include <string>
#include <string_view>

#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/UserProfile.h"
#include "vb/Variant.h"

namespace kvdata {

struct ServerState {
  std::shared_ptr<DataConnection> connection;  ///< Nothing while the database is closed.
  std::shared_ptr<UserProfile> profile;        ///< The current user's profile, or nothing.

  /// The open connection; raises kNotOpen with the given source when the database is closed.
  [[nodiscard]] DataConnection& Open(std::string_view source) const {
    if (!connection) {
      throw vb::ComError(kNotOpen, std::string(source), "The action database is not open.");
    }
    return *connection;
  }

  /// The current user's ID as stored with what the user writes: Null when no one is logged in.
  [[nodiscard]] vb::Variant CurrentUserID() const {
    if (!profile || profile->UserID().empty()) return vb::Null;
    return profile->UserID();
  }
};

}  // namespace kvdata
