// Texts of the add command.
#pragma once

#include <QString>

// The status line after an add: empty without failures, else
// "1 file could not be added — see the log" or "N files could not ...".
QString FailureStatus(int Failures);

#include <string>

// File names are bytes. Valid UTF-8 becomes text; every other byte B maps to
// the lone surrogate U+DC00 + B and back, so any name survives the trip.
QString NameToQString(const std::string& Name);
std::string QStringToName(const QString& Text);
