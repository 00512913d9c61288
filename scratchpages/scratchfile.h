#pragma once

#include <QString>

// Opens a scratch file in `folder` (which must exist) that has no name there:
// O_TMPFILE where the file system has it, else a named file
// "<namePrefix>-XXXXXX" removed at once, so that nothing is left whatever way
// the program ends. Gives the descriptor (close-on-exec), or -1 with errno
// set.
int openUnlinkedFile(const QString &folder, const char *namePrefix);

// "<folder>: <the system's words for error>", for a scratch file's failures.
QString folderError(const QString &folder, int error);
