#pragma once

#include <QString>

// A path of the given kind that a reader must refuse at once, without blocking or reading
// it whole: "fifo" (a FIFO without a writer, whose opening blocks), "folder", "device" (the
// endless /dev/zero) or "oversized" (a sparse file of 17 MiB), made in folder; empty when
// it cannot be made.
QString UnreadableFile(const QString &folder, const QString &kind);

// The rows of a data-driven test over those kinds: columns "kind" and "reason", the
// reason a reader gives for each.
void AddUnreadableFileRows();
