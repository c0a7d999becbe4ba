#include "dialogs/Directory.h"

#include <QCompleter>
#include <QDir>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>
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
    // The whole word: "Brows" reads as a title cut short.
    setWindowTitle("Browse for Folder");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    lblPrompt = new QLabel("Please select an output directory:", this);
    lblPrompt->setObjectName("lblPrompt");

    FModel = new QFileSystemModel(this);
    FModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    // Writable for the name of a new folder only: nothing else edits.
    FModel->setReadOnly(false);
    FIcons = std::make_unique<TFolderIcons>();
    FModel->setIconProvider(FIcons.get());
    FModel->setRootPath("/");

    edtPath = new QLineEdit(this);
    edtPath->setObjectName("edtPath");
    edtPath->setPlaceholderText("Type or paste a folder");
    edtPath->setClearButtonEnabled(true);
    lblPrompt->setBuddy(edtPath);
    FCompletions = new QFileSystemModel(this);
    FCompletions->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    FCompletions->setRootPath("/");
    auto* Completer = new QCompleter(FCompletions, this);
    Completer->setCompletionMode(QCompleter::PopupCompletion);
    edtPath->setCompleter(Completer);
    connect(edtPath, &QLineEdit::textEdited, this, &TfmDirectory::edtPathEdited);

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
    // The folder selected at the opening shows once its parent is read.
    connect(FModel, &QFileSystemModel::directoryLoaded, this, [this](const QString& Loaded) {
        const QModelIndex Current = stview_selectdir->currentIndex();
        if (!FScrollPending || !Current.isValid()) return;
        const QString Path = FModel->filePath(Current);
        if (Loaded != "/" && !Path.startsWith(Loaded + "/")) return;
        // Each folder on the way read moves the rows; the last one settles them.
        if (FModel->filePath(Current.parent()) == Loaded) FScrollPending = false;
        stview_selectdir->scrollTo(Current, QAbstractItemView::PositionAtCenter);
    });
    // A new folder's name given in the tree reaches the path field.
    connect(FModel, &QFileSystemModel::fileRenamed, this, [this] { stview_selectdirClick(); });

    btnNewFolder = new QPushButton("&New Folder", this);
    btnNewFolder->setObjectName("btnNewFolder");
    btnNewFolder->setAutoDefault(false);
    btnNewFolder->setIcon(ThemedIcon("folder-new", QStyle::SP_FileDialogNewFolder));
    connect(btnNewFolder, &QPushButton::clicked, this, [this] { NewFolder(); });

    btnOk = new QPushButton("Ok", this);
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    connect(btnOk, &QPushButton::clicked, this, &TfmDirectory::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfmDirectory::btnCancelClick);

    btnCancel->setAutoDefault(false);

    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(btnNewFolder);
    Buttons->addStretch();
    Buttons->addWidget(btnOk);
    Buttons->addWidget(btnCancel);

    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(10, 10, 10, 10);
    Main->setSpacing(6);
    Main->addWidget(lblPrompt);
    Main->addWidget(edtPath);
    Main->addWidget(stview_selectdir, 1);
    Main->addLayout(Buttons);
    setTabOrder(edtPath, stview_selectdir);
    setTabOrder(stview_selectdir, btnNewFolder);
    setTabOrder(btnNewFolder, btnOk);
    setTabOrder(btnOk, btnCancel);
    setMinimumSize(ShownWidth, ShownHeight);
    resize(ShownWidth, ShownHeight);
}

TfmDirectory::~TfmDirectory() {
    // The model asks the icon provider until it is gone.
    stview_selectdir->setModel(nullptr);
    delete FModel;
}

QString TfmDirectory::CleanTyped(const QString& Text) {
    QString Path = Text.trimmed();
    if (Path.isEmpty()) return Path;
    if (Path == "~" || Path.startsWith("~/")) Path = QDir::homePath() + Path.mid(1);
    // A pasted file: address works too.
    if (Path.startsWith("file://")) Path = QUrl(Path).toLocalFile();
    if (QDir::isRelativePath(Path)) Path = QDir::home().absoluteFilePath(Path);
    return QDir::cleanPath(Path);
}

std::string TfmDirectory::FieldFolder() const { return CleanTyped(edtPath->text()).toStdString(); }

void TfmDirectory::edtPathEdited(const QString& Text) {
    // The tree follows a typed folder that exists; the field keeps the
    // user's text.
    const QString Path = CleanTyped(Text);
    FTyping = true;
    if (!Path.isEmpty() && QFileInfo(Path).isDir()) SelectFolder(Path.toStdString());
    FTyping = false;
    const std::string Folder = Path.toStdString();
    btnOk->setEnabled(!Folder.empty() && !IsReservedFolder(Folder));
}

std::string TfmDirectory::NewFolder() {
    std::string Parent = FieldFolder();
    if (Parent.empty() || !QFileInfo(QString::fromStdString(Parent)).isDir()) Parent = SelectedFolder();
    if (Parent.empty() || IsReservedFolder(Parent)) Parent = HomeFolder();
    QDir Folder(QString::fromStdString(Parent));
    QString Name = "New Folder";
    for (int N = 2; Folder.exists(Name); ++N) Name = QString("New Folder %1").arg(N);
    if (!Folder.mkdir(Name)) {
        ShowMessageBox(AppTitle(), "Cannot make a new folder in " + Parent + ".", TMessageKind::Warning);
        return {};
    }
    const QString Made = Folder.absoluteFilePath(Name);
    // The model learns of the folder through the file system; ask it now.
    const QModelIndex Index = FModel->index(Made);
    if (Index.isValid()) {
        SelectFolder(Made.toStdString());
        stview_selectdir->setFocus();
        stview_selectdir->edit(Index);
    } else {
        edtPath->setText(Made);
    }
    return Made.toStdString();
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
    // The folder in use, or what is left of it; else the home folder.
    QString Start = FStartFolder.empty() ? QString() : CleanTyped(QString::fromStdString(FStartFolder));
    while (!Start.isEmpty() && !QFileInfo(Start).isDir() && Start != "/") Start = QFileInfo(Start).absolutePath();
    if (Start.isEmpty() || Start == "/" || !SelectFolder(Start.toStdString()))
        if (!SelectFolder(HomeFolder())) SelectFolder("/");
    stview_selectdirClick();
    FScrollPending = true;
    ApplyCurrentTheme(this);
    stview_selectdir->setFocus();
}

void TfmDirectory::stview_selectdirClick() {
    const std::string Folder = SelectedFolder();
    if (!FTyping) {
        edtPath->setText(QString::fromStdString(Folder));
        edtPath->setCursorPosition(int(edtPath->text().size()));
    }
    btnOk->setEnabled(!Folder.empty() && !IsReservedFolder(Folder));
}

void TfmDirectory::btnOkClick() {
    const std::string Folder = FieldFolder().empty() ? SelectedFolder() : FieldFolder();
    if (Folder.empty() || IsReservedFolder(Folder)) return;
    if (!QFileInfo(QString::fromStdString(Folder)).isDir()) {
        FChosenFolder.clear();
        ShowMessageBox(AppTitle(), "The folder " + Folder + " does not exist.", TMessageKind::Information);
        edtPath->setFocus();
        return;
    }
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
