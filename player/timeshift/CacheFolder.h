#pragma once
// The cache folder that live buffers are kept in, made so that nobody else
// can turn it against the user: the root and each buffer's folder are real
// folders (never links) of the user's own, 0700; one that is not is refused,
// never written into or removed from. A buffer's folder names the process
// that keeps it (machine, boot, pid and the process's start time) in its
// owner file, so that a reused pid or another machine's process is told
// apart; a leftover of a process that no longer runs here loses only the
// buffer's own files (segments, the owner file), then the folder, never
// anything through a link. Pure file system work: not on the UI thread.

#include <QByteArray>
#include <QString>

namespace didira::cachefolder {

// The file in a buffer's folder that names the process keeping it.
inline constexpr char kOwnerFile[] = "owner";

// A new buffer folder under root (root made when missing): its descriptor,
// its path in *dir, its owner file written; -1 with *why when root or the
// folder cannot be made or is not the user's own.
int MakeBufferFolder(const QString& root, QString* dir, QString* why);
// What the owner file holds for the process pid ("" when it does not run).
QByteArray OwnerOf(qint64 pid);
// Removes the buffers under root whose process no longer runs on this
// machine (another machine's are left to it); how many went.
int RemoveLeftovers(const QString& root);
// "path: the reason error names".
QString Why(const QString& path, int error);

} // namespace didira::cachefolder
