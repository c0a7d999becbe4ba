#include "dialogs/Directory.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/GlobalUnit.h"
#include "common/Files.h"
#include "widgets/Controls.h"
#include "widgets/Platform.h"
#include "widgets/Theme.h"

namespace {

const char* const CdRomMessage = "Output folder cannot be located in CD-ROM.Please select another folder.";

// Folder icons from the desktop's theme, or the style's own when the desktop
// has none, so the tree never shows bare names.
class TFolderIcons : public QFileIconProvider {
public:
    QIcon icon(IconType Type) const override { return Type == Drive ? FDrive : FFolder; }
    QIcon icon(const QFileInfo& Info) const override { return Info.isRoot() ? FDrive : FFolder; }

private:
    QIcon FFolder = ThemedIcon("folder", QStyle::SP_DirIcon);
    QIcon FDrive = ThemedIcon("drive-harddisk", QStyle::SP_DriveHDIcon);
};

std::string AppTitle() {
    if (GlobalObject) return GlobalObject->AppTitle();
    return TGlobalObject().AppTitle();
}

}  // namespace

TfmDirectory::TfmDirectory(QWidget* Parent) : QDialog(Parent) {
    setObjectName("fmDirectory");
    setWindowTitle("Brows");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    lblPrompt = new QLabel("Please select an output directory:", this);
    lblPrompt->setObjectName("lblPrompt");

    FModel = new QFileSystemModel(this);
    FModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    FModel->setReadOnly(true);
    FIcons = std::make_unique<TFolderIcons>();
    FModel->setIconProvider(FIcons.get());
    FModel->setRootPath("/");

    stview_selectdir = new QTreeView(this);
    stview_selectdir->setObjectName("stview_selectdir");
    stview_selectdir->setModel(FModel);
    for (int Column = 1; Column < FModel->columnCount(); ++Column) stview_selectdir->hideColumn(Column);
    stview_selectdir->setHeaderHidden(true);
    // Deep folders indent past the view's width: the column grows with its
    // names and the view scrolls sideways instead of hiding them.
    stview_selectdir->header()->setStretchLastSection(false);
    stview_selectdir->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    stview_selectdir->setSelectionMode(QAbstractItemView::SingleSelection);
    stview_selectdir->setEditTriggers(QAbstractItemView::NoEditTriggers);
    stview_selectdir->setUniformRowHeights(true);
    stview_selectdir->setAnimated(false);
    // The selection rule runs on every change of the selected folder, be it
    // by a click of either button or by the keyboard.
    connect(stview_selectdir->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { stview_selectdirClick(); });

    btnOk = new QPushButton("Ok", this);
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    connect(btnOk, &QPushButton::clicked, this, &TfmDirectory::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfmDirectory::btnCancelClick);

    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch();
    Buttons->addWidget(btnOk);
    Buttons->addWidget(btnCancel);

    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(10, 10, 10, 10);
    Main->setSpacing(6);
    Main->addWidget(lblPrompt);
    Main->addWidget(stview_selectdir, 1);
    Main->addLayout(Buttons);
    resize(ShownWidth, ShownHeight);
}

TfmDirectory::~TfmDirectory() {
    // The model asks the icon provider until it is gone.
    stview_selectdir->setModel(nullptr);
    delete FModel;
}

bool TfmDirectory::IsReservedFolder(const std::string& Folder) {
    QString Clean = QDir::cleanPath(QString::fromStdString(Folder));
    return Clean == "/" || Clean == "/proc" || Clean == "/sys" || Clean == "/dev" || Clean == "/run";
}

bool TfmDirectory::SelectFolder(const std::string& Folder) {
    const QString Path = QDir::cleanPath(QString::fromStdString(Folder));
    if (Folder.empty() || !QFileInfo(Path).isDir()) return false;
    QModelIndex Index = FModel->index(Path);
    if (!Index.isValid()) return false;
    for (QModelIndex Up = Index.parent(); Up.isValid(); Up = Up.parent()) stview_selectdir->expand(Up);
    stview_selectdir->setCurrentIndex(Index);
    stview_selectdir->scrollTo(Index, QAbstractItemView::PositionAtCenter);
    stview_selectdirClick();
    return true;
}

std::string TfmDirectory::SelectedFolder() const {
    QModelIndex Index = stview_selectdir->currentIndex();
    return Index.isValid() ? FModel->filePath(Index).toStdString() : std::string();
}

void TfmDirectory::showEvent(QShowEvent* Event) {
    FormShow();
    QDialog::showEvent(Event);
}

void TfmDirectory::FormShow() {
    resize(ShownWidth, ShownHeight);
    if (!SelectFolder(HomeFolder())) SelectFolder("/");
    stview_selectdirClick();
    ApplyCurrentTheme(this);
    stview_selectdir->setFocus();
}

void TfmDirectory::stview_selectdirClick() {
    const std::string Folder = SelectedFolder();
    btnOk->setEnabled(!Folder.empty() && !IsReservedFolder(Folder));
}

void TfmDirectory::btnOkClick() {
    const std::string Folder = SelectedFolder();
    if (Folder.empty() || IsReservedFolder(Folder)) return;
    FChosenFolder = Folder;
    if (Platform().IsCdRom(FChosenFolder)) {
        FChosenFolder.clear();
        ShowMessageBox(AppTitle(), CdRomMessage, TMessageKind::Information);
        return;
    }
    accept();
}

void TfmDirectory::btnCancelClick() { reject(); }

void TfmDirectory::reject() {
    FChosenFolder.clear();
    QDialog::reject();
}
