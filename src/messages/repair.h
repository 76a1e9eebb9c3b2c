// Repair of a message from its copies: the copies are aligned character by
// character with the most complete one; where they differ, each copy's
// character is evidence weighed by its confidence, and what one copy lost
// (an erasure, a stretch lost out of synchronisation) is filled from another
// where they align.
#pragma once

#include <span>
#include <vector>

#include "messages/message.h"

namespace brontel::msg {

// How the copies' characters are weighed. A copy that printed c with
// confidence p is taken to say: the character sent was c with probability
// p, else any one of the other characters of the service alike. Summing the
// copies' log-odds per candidate character then gives each candidate's
// posterior; the one most likely is shown, with its posterior as its
// confidence.
struct TRepairModel {
  // How many characters a wrongly received one may equally have been:
  // the fewer, the likelier two copies wrong in one place agree on it.
  double EnglishAlternatives = 30.0;
  double JapaneseAlternatives = 300.0;
  // A character of a copy without confidences (the exact path): believed
  // with this probability clear of a gap, and just after a gap (where the
  // decoder may still be in the wrong letters/figures shift) with less, the
  // less the nearer it is (see TUnit::Doubt).
  double UnknownConfidence = 0.9;
  // A copy with confidences that received no character where another
  // received one: believed with this probability (as if "none" were one
  // more character), so that a character one copy inserted, or one the base
  // copy dropped, is settled by the others.
  double AbsentConfidence = 0.9;
};

// `base` with what `other` says of it: the two are aligned by weighted edit
// distance (a character against a differing one or against nothing costs
// 10, against an erasure 1, and a gap takes any run of the other copy at 1
// a unit; a doubtful character (see ToUnits) against a differing one costs
// 1). An erasure aligned with a character takes it; a character aligned
// with a differing one gives way to it when the other copy's is the likelier
// by their confidences (see TRepairModel; on a tie `base` keeps its own); a
// gap takes the run it is aligned with (if any). Everything else of `base`
// stays as it is. When `other` was cut short (it never reached its
// trailer), what `base` has past its end costs 1 a unit, as if a gap took
// it, so that its last characters are not pulled away from where they
// belong. Copies too long to align in bounded memory come back unchanged.
std::vector<TUnit> FillFrom(const std::vector<TUnit>& base, const std::vector<TUnit>& other,
                            bool otherCutShort = false, TService service = TService::English);

// Whether copy a holds more of the message, better received, than b: a
// copy that ran to its trailer beats one cut short (whose missing end no
// other copy fills); then more characters received neither erased nor
// suspicious; then fewer erasures; then a lower error estimate.
bool Better(const TMessage& a, const TMessage& b);

// The message repaired from its copies (in the order received; none gives
// an empty message): the copy that is Better than the others (the earliest
// of equals) is the base, and the others are aligned with it one after
// another, best first. At each place the characters the copies received
// there are weighed together (TRepairModel); each character's confidence is
// its posterior (unknown where a copy without confidences had a say), and
// the message is measured again, so that its error estimate is that of the
// repaired text. Identity, times and reception details are those of the
// last copy (the newest reception); the trailer is the base copy's, whose
// text is the one repaired. Copies counts the copies.
TMessage MergeCopies(std::span<const TMessage> copies, const TRepairModel& model = {});

// The message shown for a stored message and a new copy of it: the two
// merged as two copies (see MergeCopies), Copies one more than `shown`'s,
// `shown`'s store number, and marked as a repeat.
TMessage Merge(const TMessage& shown, const TMessage& copy);

}  // namespace brontel::msg
