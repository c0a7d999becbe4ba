// Texts of the add command.
#pragma once

#include <QString>

// The open dialog's filter in Qt's "description (patterns);;..." form,
// every pattern in upper and lower case.
QString AddFilesFilter();
// The status line after an add: empty without failures, else
// "1 file could not be added — see the log" or "N files could not ...".
QString FailureStatus(int Failures);
