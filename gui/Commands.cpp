// The main window's list commands, folder commands and menu enabling.
#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolButton>

#include "app/GlobalUnit.h"
#include "dialogs/Directory.h"
#include "dialogs/WinAbout.h"
#include "dialogs/WinFileInfo.h"
#include "dialogs/WinPreference.h"
#include "dialogs/WinWaterMark.h"
#include "gui/FileList.h"
#include "gui/WinSettings.h"
#include "gui/WinMain.h"
#include "widgets/Platform.h"

// Rows and texts.

int TfrmMain::SelectedRow() const {
    // Of several selected rows, the one with the keyboard's focus counts.
    const QModelIndex Current = lvFiles->currentIndex();
    if (Current.isValid() && lvFiles->selectionModel()->isRowSelected(Current.row(), QModelIndex()))
        return Current.row();
    const QList<int> Rows = lvFiles->SelectedRows();
    return Rows.isEmpty() ? -1 : Rows.first();
}

void TfrmMain::SelectRow(int Row) {
    if (Row < 0 || Row >= FModel->Count()) {
        lvFiles->selectionModel()->clearSelection();
        return;
    }
    lvFiles->selectionModel()->setCurrentIndex(
        FModel->index(Row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

TlvFilesRecord* TfrmMain::SelectedRecord() const { return FModel->Record(SelectedRow()); }

TlvFilesRecord* TfrmMain::RowRecord(int Row) const { return FModel->Record(Row); }

QString TfrmMain::RowText(int Row, int Column) const { return FModel->Text(Row, Column); }

void TfrmMain::AppendLog(const QString& Line) { mmoLog->appendPlainText(Line); }

QString TfrmMain::LogText() const { return mmoLog->toPlainText(); }

QString TfrmMain::StatusText() const { return lblStatus->text(); }

void TfrmMain::SetStatus(const QString& Text) {
    FStatusClick = nullptr;
    lblStatus->setText(Text);
    lblStatus->setToolTip("Click to show the log (Tools > Show Log)");
}

void TfrmMain::SetStatusAction(const QString& Text, const QString& Hint, std::function<void()> OnClick) {
    FStatusClick = std::move(OnClick);
    lblStatus->setText(Text);
    lblStatus->setToolTip(Hint);
}

void TfrmMain::StatusClick() {
    if (lblStatus->text().isEmpty()) return;
    if (FStatusClick)
        FStatusClick();
    else
        ShowLog();
}

// File commands.

void TfrmMain::btnRemoveClick() {
    // A batch holds its rows until it ends (Delete reaches here too).
    if (!btnRemove->isEnabled()) return;
    const QList<int> Rows = lvFiles->SelectedRows();
    if (Rows.isEmpty()) return;
    for (auto R = Rows.rbegin(); R != Rows.rend(); ++R) FModel->RemoveRow(*R);
    if (FModel->Count() == 0) {
        ListEmptied();
    } else {
        SelectRow(std::min(Rows.first(), FModel->Count() - 1));
        lvFiles->setFocus();
    }
    lvFiles->viewport()->update();
}

void TfrmMain::ListEmptied() {
    // The model took the columns with the last row.
    imgbtnStopClick();
}

void TfrmMain::btnClearClick() {
    if (FModel->Count() == 0 || !btnClear->isEnabled()) return;
    VxAVC.ClearJobs();
    FModel->Clear();
    // The next tick resets the preview controls.
    FStopped = true;
    FPaused = true;
    lvFiles->viewport()->update();
}

void TfrmMain::btnSettingsClick() {
    if (!FSettings) {
        FSettings = new TfrmSettings(TProfileFiles{FSettingsIni, FFormatIni}, this);
        FSettings->SetSelectProfile([this](int AIndex) { SelectProfile(cbOutputFormat, AIndex); });
    }
    FSettings->SetCatalogue(CatalogueNames(), SelectedProfile(cbOutputFormat));
    FSettings->exec();
}

void TfrmMain::SelectAll() {
    lvFiles->selectAll();
    lvFiles->setFocus();
}

void TfrmMain::ShowPreferences() {
    if (!FPreference) FPreference = new TfrmPreference(FSettingsIni, this);
    FPreference->exec();
}

void TfrmMain::ShowFileInfo() {
    if (!FFileInfo) FFileInfo = new TfrmFileInfo(this);
    const TlvFilesRecord* Row = SelectedRecord();
    FFileInfo->SetSourceFile(Row ? Row->SourceFile : std::string());
    FFileInfo->exec();
}

void TfrmMain::btnExitClick() { close(); }

void TfrmMain::AboutClick() {
    if (!FAbout) {
        FAbout = new TfrmAbout(this);
        // The box shows the versions of the libraries loaded.
        FAbout->LoadLibraries = [this] { LoadLibraries(); };
    }
    FAbout->exec();
}

void TfrmMain::EditWaterMark() {
    if (!FWaterMark) FWaterMark = new TfrmWaterMark(this);
    const TlvFilesRecord* Record = SelectedRecord();
    FWaterMark->SetSourceFile(Record ? Record->SourceFile : std::string());
    FWaterMark->exec();
}

// Check boxes.

void TfrmMain::CheckAll() { FModel->SetAllChecked(true); }
void TfrmMain::UncheckAll() { FModel->SetAllChecked(false); }
void TfrmMain::ReverseChecks() { FModel->ReverseChecks(); }

void TfrmMain::CheckSelected() {
    for (int Row : lvFiles->SelectedRows()) FModel->SetChecked(Row, true);
}

void TfrmMain::UncheckSelected() {
    for (int Row : lvFiles->SelectedRows()) FModel->SetChecked(Row, false);
}

// Menus.

void TfrmMain::EditMenuOpening() {
    WaterMark1->setVisible(false);
    const bool Rows = FModel->Count() > 0;
    for (QAction* A : {Crop1, Trim1, CheckAll1, UncheckAll1, ReserveCheck1, Check1, Uncheck1, SelectAll1})
        A->setEnabled(Rows);
}

void TfrmMain::ListMenuOpening() {
    WaterMark2->setVisible(false);
    const bool Rows = FModel->Count() > 0 && SelectedRow() >= 0;
    for (QAction* A : {Crop2, Trim2, WaterMark2, Infomation1, Remove2, Clear2, Start2}) A->setEnabled(Rows);
    AddFiles1->setEnabled(true);
}

void TfrmMain::lvFilesContextPopup(const QPoint& Position) {
    ListMenu->popup(lvFiles->viewport()->mapToGlobal(Position));
}

// Output profile and folder.

void TfrmMain::cbOutputFormatChange(int) {
    const int Profile = SelectedProfile(cbOutputFormat);
    if (Profile >= 0) TAppSettings(FSettingsIni).SetOutputFormat(Profile);
}

void TfrmMain::edDirectoryChange(const QString& Text) { TAppSettings(FSettingsIni).SetOutputDir(Text.toStdString()); }

void TfrmMain::btnBrowsClick() {
    if (!FDirectory) FDirectory = new TfmDirectory(this);
    FDirectory->SetStartFolder(edDirectory->text().toStdString());
    FDirectory->exec();
    const QString Chosen = QString::fromStdString(FDirectory->ChosenFolder());
    if (Chosen.isEmpty() || Chosen == edDirectory->text()) return;
    TAppSettings(FSettingsIni).SetOutputDir(Chosen.toStdString());
    edDirectory->setText(Chosen);
    edDirectory->setCursorPosition(0);
}

void TfrmMain::btnOpenClick() {
    if (edDirectory->text().size() <= 2) return;
    const std::string Folder = TAppSettings(FSettingsIni).OutputDir();
    if (!Platform().OpenFolder(Folder))
        ShowMessageBox("Warning", "Cannot open the folder " + Folder + ".", TMessageKind::Warning);
}
