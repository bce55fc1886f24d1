#pragma once

#include <QString>
#include <QtGlobal>

// A path of the given kind that a reader must refuse at once, without blocking or reading
// it whole: "fifo" (a FIFO without a writer, whose opening blocks), "folder", "device" (the
// endless /dev/zero) or "oversized" (a sparse file of 17 MiB), made in folder; or
// "unpermitted", a small file without read permission (unreadable for root only while a
// HeldToPermissions lives). Empty when it cannot be made.
QString UnreadableFile(const QString &folder, const QString &kind);

// While it lives, this thread is held to the files' permission bits even as root (the
// tests run as root, who may read any file otherwise): the capabilities that override
// them are taken out of the effective set, and put back at the end.
class HeldToPermissions
{
public:
    HeldToPermissions();
    ~HeldToPermissions();
    HeldToPermissions(const HeldToPermissions &) = delete;
    HeldToPermissions &operator=(const HeldToPermissions &) = delete;

private:
    quint32 saved[6] = {};
};

// The rows of a data-driven test over those kinds: columns "kind" and "reason", the
// reason a reader gives for each; withPermission adds the unpermitted file (to be read
// under a HeldToPermissions).
void AddUnreadableFileRows(bool withPermission = false);

// What tells whether a file was left alone: its kind, inode, size and modification time
// (a file written over has another size or time, a file put in its place another inode).
QString FileIdentity(const QString &path);
