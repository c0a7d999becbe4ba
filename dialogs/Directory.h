// The folder chooser for the output and snapshot folders: a tree of the
// folders, a path field that takes a typed or pasted folder, and a button
// that makes a new folder in the one selected.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

class QFileIconProvider;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

class TfmDirectory : public QDialog {
    Q_OBJECT
public:
    static constexpr int ShownWidth = 322;
    static constexpr int ShownHeight = 351;

    explicit TfmDirectory(QWidget* Parent = nullptr);
    ~TfmDirectory() override;

    // The folder of the last successful OK (no trailing "/"); empty after
    // Cancel, after closing without OK, after a refused CD-ROM folder or
    // typed folder that does not exist, and before any choice.
    const std::string& ChosenFolder() const { return FChosenFolder; }
    // Where the next opening starts: the folder in use (its nearest
    // existing parent when it is gone); empty for the home folder.
    void SetStartFolder(const std::string& Folder) { FStartFolder = Folder; }
    // Selects Folder in the tree as a click would; false when it is not a
    // folder the tree shows.
    bool SelectFolder(const std::string& Folder);
    // The folder selected in the tree, empty when none.
    std::string SelectedFolder() const;
    // The folder OK would take: the path field's, which follows the tree.
    std::string FieldFolder() const;
    // Makes a folder "New Folder" (or "New Folder 2", ...) in the folder
    // of the path field, selects it and starts editing its name. Returns
    // its path, empty when it could not be made (the message says why).
    std::string NewFolder();

    QLineEdit* edtPath = nullptr;
    QTreeView* stview_selectdir = nullptr;
    QPushButton* btnNewFolder = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    void btnOkClick();

public slots:
    // Closing by the title bar or Escape counts as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    // True for the entries that cannot be chosen: the file-system root and
    // the kernel's virtual folders.
    static bool IsReservedFolder(const std::string& Folder);
    // A typed path as a clean absolute one ("~" is the home folder).
    static QString CleanTyped(const QString& Text);
    void FormShow();
    void stview_selectdirClick();
    void edtPathEdited(const QString& Text);
    void btnCancelClick();

    QLabel* lblPrompt = nullptr;
    std::unique_ptr<QFileIconProvider> FIcons;  // the destructor deletes the models first
    QFileSystemModel* FModel = nullptr;
    QFileSystemModel* FCompletions = nullptr;
    std::string FChosenFolder;
    std::string FStartFolder;
    bool FTyping = false;
    bool FScrollPending = false;
};
