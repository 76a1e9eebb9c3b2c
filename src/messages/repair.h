// Repair of a message from its copies: the copies are aligned character by
// character and what one copy lost (an erasure, a stretch lost out of
// synchronisation) is filled from the other where they align.
#pragma once

#include <vector>

#include "messages/message.h"

namespace brontel::msg {

// `base` with its erasures and gaps filled from `other`. The two are aligned
// by weighted edit distance: a character against a differing one or against
// nothing costs 10, against an erasure 1, and a gap takes any run of the other
// copy at 1 a unit; a doubtful character (see ToUnits) against a differing one
// costs 1. An erasure aligned with a character takes it; a character aligned
// with a differing one the other copy received further from a gap (or clear
// of any) takes that one; a gap takes the run it is aligned with (if any). Everything else of `base`
// stays as it is. When `other` was cut short (it never reached its
// trailer), what `base` has past its end costs 1 a unit, as if a gap took
// it, so that its last characters are not pulled away from where they
// belong. Copies too long to align in bounded memory come back unchanged.
std::vector<TUnit> FillFrom(const std::vector<TUnit>& base, const std::vector<TUnit>& other,
                            bool otherCutShort = false);

// Whether copy a holds more of the message, better received, than b: a
// copy that ran to its trailer beats one cut short (whose missing end no
// other copy fills); then more characters received neither erased nor
// suspicious; then fewer erasures; then a lower error estimate.
bool Better(const TMessage& a, const TMessage& b);

// The message shown for two copies of one identity: the better of the two
// with its erasures and gaps filled from the other, measured again. Identity,
// times and reception details are those of `copy` (the newer reception); the
// trailer is that of the better copy, whose text is the one shown.
TMessage Merge(const TMessage& shown, const TMessage& copy);

}  // namespace brontel::msg
