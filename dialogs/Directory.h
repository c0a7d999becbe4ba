// The folder chooser for the output and snapshot folders.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

class QFileIconProvider;
class QFileSystemModel;
class QLabel;
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
    // Cancel, after closing without OK, after a refused CD-ROM folder and
    // before any choice.
    const std::string& ChosenFolder() const { return FChosenFolder; }
    // Selects Folder in the tree as a click would; false when it is not a
    // folder the tree shows.
    bool SelectFolder(const std::string& Folder);
    // The folder selected in the tree, empty when none.
    std::string SelectedFolder() const;

    QTreeView* stview_selectdir = nullptr;
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
    void FormShow();
    void stview_selectdirClick();
    void btnCancelClick();

    QLabel* lblPrompt = nullptr;
    std::unique_ptr<QFileIconProvider> FIcons;  // the destructor deletes the model first
    QFileSystemModel* FModel = nullptr;
    std::string FChosenFolder;
};
