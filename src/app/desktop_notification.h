// Telling the user of a message while the window may be in the background: a
// notification through the desktop session's notification service.
#pragma once

#include "messages/message.h"

namespace brontel {

// Shows a notification naming the message (identity, subject, the start of
// its text). False when the session has no notification service; nothing
// else happens then.
bool NotifyDesktop(const msg::TMessage& message);

}  // namespace brontel
