#include "gui/ProfileList.h"

#include <QComboBox>
#include <QFont>
#include <QStandardItemModel>

#include "app/Profiles.h"

void FillProfileList(QComboBox* Combo, const QStringList& Names) {
    Combo->clear();
    auto* Model = qobject_cast<QStandardItemModel*>(Combo->model());
    for (const TProfileGroup& Group : ProfileGroups()) {
        Combo->addItem(QString::fromUtf8(Group.Heading));
        if (Model) {
            QStandardItem* Heading = Model->item(Combo->count() - 1);
            // Neither chosen by click nor by the arrow keys.
            Heading->setFlags(Qt::NoItemFlags);
            QFont Bold = Combo->font();
            Bold.setBold(true);
            Heading->setFont(Bold);
        }
        for (int N : Group.Profiles)
            if (N < Names.size()) Combo->addItem(Names[N], N);
    }
    Combo->setMaxVisibleItems(Combo->count());
}

int SelectedProfile(const QComboBox* Combo) {
    const QVariant Data = Combo->currentData();
    return Data.isValid() ? Data.toInt() : -1;
}

void SelectProfile(QComboBox* Combo, int N) { Combo->setCurrentIndex(N >= 0 ? Combo->findData(N) : -1); }

QStringList CatalogueNames() {
    QStringList Names;
    for (const char* Name : ProfileNames) Names << QString::fromUtf8(Name);
    return Names;
}
