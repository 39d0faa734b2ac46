// The stand-in's outbox: every waypoint handed over, appended as one JSON line to the file that
// KV8_OUTBOX names, so that a setup run against the stand-in shows what it would report.
#ifndef KV8_OUTBOX_H
#define KV8_OUTBOX_H

#include "KV8Control.h"

namespace kv8 {

// Whether KV8_OUTBOX names a file to write to.
bool OutboxWanted();

// Appends the delivery to the outbox, whole or not at all; nothing when no outbox is wanted.
void WriteOutbox(const Delivery& delivery);

}  // namespace kv8

#endif
