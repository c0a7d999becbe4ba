// Texts of the add command.
#pragma once

#include <QString>

// The status line after an add: empty without failures, else
// "1 file could not be added — see the log" or "N files could not ...".
QString FailureStatus(int Failures);
