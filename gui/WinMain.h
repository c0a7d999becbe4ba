// TfrmMain, the main window: the file list with its commands, the output
// profile and folder, the preview group, the menus and the log.
//
// Where things live. A row of the list is a row of TFilesModel
// (gui/FileList.h): it holds the row's TlvFilesRecord, its check box, the
// trimmed length the trim dialog chose and its TRowStatus (waiting,
// converting with a percentage, done with the file written, failed with the
// reason); the model formats the five columns from these, and nothing reads
// a row's state back from its texts. The batch runs in TBatchRun
// (gui/BatchRun.h), which this window owns and btnStartClick starts: it
// builds a job per checked row, handles the converter's events, drives the
// progress dialog, sets the rows' statuses and locks this window's list
// commands while it runs. This window previews each file as the batch opens
// it and writes the lines the run logs.
//
// Implementation files:
//   WinMain.cpp     creation, layout, menus, close query, themes, help
//   Commands.cpp    the list commands, folder commands, menu enabling
//   AddFiles.cpp    adding files (dialog, command line, drops)
//   Preview.cpp     the preview player, its keyboard and the snapshot
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/FilesRecord.h"
#include "component/VxAVConverter.h"
#include "gui/StartOptions.h"
#include "widgets/Theme.h"

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTimer;
class QToolButton;
class TBatchRun;
class TFilesModel;
class TFilesView;
class TGlobalObject;
class TPictureView;
class TPreviewPlayer;
class TfmDirectory;
class TfrmAbout;
class TfrmCrop;
class TfrmFileInfo;
class TfrmLog;
class TfrmPreference;
class TfrmSettings;
class TfrmTrim;
class TfrmWaterMark;

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // Creates GlobalObject, reads the settings (the files of Options when
    // given), applies the stored theme. Options.Files are added once the
    // window shows.
    explicit TfrmMain(const TStartOptions& Options = {}, QWidget* Parent = nullptr);
    ~TfrmMain() override;

    // The settings file in use.
    const std::string& SettingsIni() const { return FSettingsIni; }

    // Adds files as the Add command adds those chosen in its dialog (no
    // dialog): loads the libraries on first use, skips folders and paths
    // already listed, logs files that cannot be opened. Returns the number
    // of rows added. Calls during an add are queued behind it.
    int AddFiles(const QStringList& Paths);
    // How long an add runs before its progress dialog shows (500 ms).
    void SetAddProgressDelay(int Milliseconds) { FAddProgressDelay = Milliseconds; }
    // Files that did not open in the last add command.
    int LastAddFailures() const { return FLastAddFailures; }

    TFilesModel* FilesModel() const { return FModel; }
    // The selected row, or -1.
    int SelectedRow() const;
    void SelectRow(int Row);
    // The selected row's record, or null; it lives as long as the row.
    TlvFilesRecord* SelectedRecord() const;
    TlvFilesRecord* RowRecord(int Row) const;
    // The text of one column of a row as the list shows it (see TFileColumn).
    QString RowText(int Row, int Column) const;

    QString LogText() const;
    // The line under the list; empty when nothing needs saying.
    QString StatusText() const;
    // A click on the line under the list: the log, or what the line offers
    // (the folder of a snapshot).
    void StatusClick();
    // The count at the right of that line: files, checked files and their
    // trimmed length.
    QString CountText() const;

    TVxAVConverter& Converter() { return VxAVC; }
    // The player behind the "Fast preview" group.
    TPreviewPlayer* Preview() const { return FPreview; }
    // The batch conversion run, which the Start commands start.
    TBatchRun* Batch() const { return FBatch.get(); }

    // The controls that the tests drive and read; the menus and the other
    // controls are reached by their object names.
    TFilesView* lvFiles = nullptr;
    QPlainTextEdit* mmoLog = nullptr;
    QLabel* lblStatus = nullptr;
    QLabel* lblCount = nullptr;
    QToolButton *btnAdd = nullptr, *btnRemove = nullptr, *btnClear = nullptr, *btnStart = nullptr;
    QComboBox* cbOutputFormat = nullptr;
    QLineEdit* edDirectory = nullptr;
    TPictureView* imgPreview = nullptr;
    QLabel* imgPreview1 = nullptr;
    QLabel* lblPTS = nullptr;
    QSlider* trcPreview = nullptr;
    QToolButton *imgbtnPlay = nullptr, *imgbtnPause = nullptr, *imgbtnStop = nullptr, *imgbtnSnap = nullptr;
    QPushButton *btnPause = nullptr, *btnResume = nullptr, *btnStop = nullptr;
    QTimer* Timer1 = nullptr;

public slots:
    // File commands.
    void btnAddClick();
    void btnRemoveClick();
    void btnClearClick();
    // Starts the batch run with the selected output profile.
    void btnStartClick();

    // The output folder.
    void btnBrowsClick();
    void btnOpenClick();

    // The right-click menu at Position (viewport coordinates of the list).
    void lvFilesContextPopup(const QPoint& Position);

    // The preview player fills these: double click on the list, the
    // preview buttons and the 500 ms tick.
    void lvFilesDblClick();
    void imgbtnPlayClick();
    void imgbtnPauseClick();
    void imgbtnStopClick();
    void imgbtnSnapClick();
    void Timer1Timer();

signals:
    // The files of the command line have been added.
    void InitialFilesAdded(int Added);

protected:
    void showEvent(QShowEvent* Event) override;
    // The close query: during a batch it asks first; an accepted close keeps
    // the window's place and the file list for the next start.
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

public:
    // The window opens at this size, which is also its least.
    static constexpr int FormWidth = 786;
    static constexpr int FormHeight = 534;

private:
    void CreateControls();
    // Places the controls for the window's size: the list and the preview
    // take what the window has beyond its least size.
    void LayOutControls();
    // The window's place and the list's columns from the settings, and
    // back at the close.
    void RestorePlace();
    void SavePlace();
    // The file list of the last close, and back.
    void RestoreKeptList();
    void SaveKeptList();
    void UpdateCount();
    // A status line whose click runs OnClick instead of opening the log.
    void SetStatusAction(const QString& Text, const QString& Hint, std::function<void()> OnClick);
    // Colours that follow the theme but are set by hand.
    void ThemeChanged();
    void RedrawPreview();
    void CreateMenus();
    void ConnectCommands();
    void CreateBatch();
    void ReadStartState();
    // The folder this run writes to when the stored one cannot be made.
    void ShowFolderInUse(const std::string& Folder);
    void SetPreviewStartState();
    void SetSkinChecks(int Index);
    void SetStatus(const QString& Text);
    void AppendLog(const QString& Line);
    void OpenPage(const std::string& Url);
    bool LoadLibraries();
    int AddFilesNow(const QStringList& Paths);
    void AddInitialFiles();
    // The list became empty: columns go, the preview stops.
    void ListEmptied();

    // Commands of the menus and the other buttons.
    void btnSettingsClick();
    void btnExitClick();
    void ShowPreferences();
    // The crop, trim, watermark and file information dialogs on the
    // selected row.
    void EditCrop();
    void EditTrim();
    void EditWaterMark();
    void ShowFileInfo();
    void CheckAll();
    void UncheckAll();
    void ReverseChecks();
    void CheckSelected();
    void UncheckSelected();
    void SelectAll();
    void ShowHelp();
    void ShowHomePage();
    void ShowSupportPage();
    void AboutClick();
    void ShowLog();
    // Themes: Index 0..8 in the Skin menu's order.
    void SkinClick(int Index);
    void cbOutputFormatChange(int Index);
    void edDirectoryChange(const QString& Text);
    // Menu enabling as a menu opens.
    void EditMenuOpening();
    void ListMenuOpening();
    void SkinMenuOpening();

    // Preview.cpp: the player, Play and double click, the slider, the flags
    // shared with the other commands.
    void CreatePreview();
    // The preview set-up for a probe opened on a file: background, slider,
    // first picture, and the log replaced by the file's information text.
    // A probe other than the component's own serves only this set-up.
    void PreviewFile(TAVProbe& Probe);
    void PlaySelected(bool FromList);
    void trcPreviewChange(int Position);
    void PreviewFlagsIn();
    void PreviewFlagsOut();

    // Controls only the window's own code uses.
    QToolButton *btnSettings = nullptr, *btnExit = nullptr;
    QPushButton* btnStartBelow = nullptr;
    QPushButton* btnOptions = nullptr;
    QPushButton *btnBrows = nullptr, *btnOpen = nullptr;
    QFrame* Rule = nullptr;
    QLabel *lblOutputFormat = nullptr, *lblDirectory = nullptr;
    QGroupBox* grpPreview = nullptr;
    // The menus whose entries change as they open, and those entries.
    QMenu *Edit2 = nullptr, *Skin1 = nullptr, *ListMenu = nullptr;
    QAction *Crop1 = nullptr, *Trim1 = nullptr, *WaterMark1 = nullptr, *CheckAll1 = nullptr,
            *UncheckAll1 = nullptr, *ReserveCheck1 = nullptr, *Check1 = nullptr, *Uncheck1 = nullptr,
            *SelectAll1 = nullptr;
    std::array<QAction*, ThemeCount> SkinEntries{};
    QAction *Crop2 = nullptr, *Trim2 = nullptr, *WaterMark2 = nullptr, *Infomation1 = nullptr, *AddFiles1 = nullptr,
            *Remove2 = nullptr, *Clear2 = nullptr, *Start2 = nullptr;

    // Preview state for the preview player: true at start-up, after Stop,
    // at the end of a file, after Clear and while a batch is built.
    bool FStopped = true;
    bool FPaused = false;
    TPreviewPlayer* FPreview = nullptr;

    TVxAVConverter VxAVC;
    // Destroyed before the converter, whose events it handles.
    std::unique_ptr<TBatchRun> FBatch;
    TFilesModel* FModel = nullptr;
    std::unique_ptr<TGlobalObject> FGlobal;
    std::string FSettingsIni, FFormatIni;
    std::string FHelpPageURL, FHomePageURL, FSupportPageURL;
    QStringList FInitialFiles;
    QString FLastFolder;
    int FCheckedSkin = -1;  // the Skin entry with the check mark
    bool FShownOnce = false;
    bool FExposedOnce = false;
    bool FLibrariesLoaded = false;
    bool FAdding = false;
    bool FClosing = false;
    QStringList FPendingAdds;
    std::function<void()> FStatusClick;
    int FLastAddFailures = 0;
    int FAddProgressDelay = 500;

    QPointer<TfrmAbout> FAbout;
    QPointer<TfmDirectory> FDirectory;
    QPointer<TfrmWaterMark> FWaterMark;
    QPointer<TfrmTrim> FTrim;
    QPointer<TfrmCrop> FCrop;
    QPointer<TfrmSettings> FSettings;
    QPointer<TfrmPreference> FPreference;
    QPointer<TfrmFileInfo> FFileInfo;
    QPointer<TfrmLog> FLog;
};
