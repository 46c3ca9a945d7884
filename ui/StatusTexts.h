#pragma once
// Texts of the player's play and open states, as the status fields show them.

#include <QString>

namespace didira {

inline constexpr int kStatusSlots = 10;

// The text of play state value; empty for a slot without text and for any
// value outside the table.
QString PlayStateText(long value);
// The text of open state value; empty likewise.
QString OpenStateText(long value);

// Shown in the PlayState field from "Recieve" until the first status change.
QString WaitingText();

} // namespace didira
