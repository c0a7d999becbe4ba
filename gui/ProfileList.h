// The Output Format lists of the main window and the settings dialog: the
// profiles under their group headings, which cannot be chosen. A row's data
// is its profile number, so the row and the number differ.
#pragma once

#include <QStringList>

class QComboBox;

// Fills Combo with Names (indexed by profile number) under the headings.
void FillProfileList(QComboBox* Combo, const QStringList& Names);
// The profile number of the chosen row; -1 when none is chosen.
int SelectedProfile(const QComboBox* Combo);
// Chooses profile N; an unknown number chooses nothing.
void SelectProfile(QComboBox* Combo, int N);
// The profile names in number order.
QStringList CatalogueNames();
