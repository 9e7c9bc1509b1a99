#pragma once
// Base64 as attachments and mail carry it: the data server's codec, offered to the front ends.
#include "kvdata/Base64.h"

namespace app {

using kvdata::FromBase64;
using kvdata::ToBase64;

}  // namespace app
