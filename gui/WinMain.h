// TfrmMain, the main window: the file list with its commands, the output
// profile and folder, the preview group, the menus and the log.
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
#include <memory>
#include <string>
#include <vector>

#include "app/FilesRecord.h"
#include "component/VxAVConverter.h"
#include "gui/StartOptions.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTimer;
class QToolButton;
class TFilesModel;
class TFilesView;
class TGlobalObject;
class TPictureView;
class TPreviewPlayer;
class TfmDirectory;
class TfrmAbout;
class TBatchRun;
class TfrmLog;
class TfrmWaterMark;
class TfrmTrim;
class TfrmSettings;
class TfrmPreference;
class TfrmFileInfo;
class TfrmCrop;

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int FormWidth = 786;
    static constexpr int FormHeight = 534;

    // Creates GlobalObject, reads the settings (the files of Options when
    // given), applies the stored theme. Options.Files are added once the
    // window shows.
    explicit TfrmMain(const TStartOptions& Options = {}, QWidget* Parent = nullptr);
    ~TfrmMain() override;

    // The settings and profile files in use.
    const std::string& SettingsIni() const { return FSettingsIni; }
    const std::string& FormatIni() const { return FFormatIni; }
    // The page addresses Help, Web Site and Support open.
    const std::string& HelpPageURL() const { return FHelpPageURL; }
    const std::string& HomePageURL() const { return FHomePageURL; }
    const std::string& SupportPageURL() const { return FSupportPageURL; }

    // Adds files as the Add command adds those chosen in its dialog (no
    // dialog): loads the libraries on first use, skips folders and paths
    // already listed, logs files that cannot be opened. Returns the number
    // of rows added. Calls during an add are queued behind it.
    int AddFiles(const QStringList& Paths);
    // How long an add runs before its progress dialog shows (500 ms).
    void SetAddProgressDelay(int Milliseconds) { FAddProgressDelay = Milliseconds; }

    TFilesModel* FilesModel() const { return FModel; }
    // The preview set-up for a probe opened on a file: background, slider,
    // first picture, and the log replaced by the file's information text.
    // A probe other than the component's own serves only this set-up.
    void PreviewFile(TAVProbe& Probe);
    // The player behind the "Fast preview" group.
    TPreviewPlayer* Preview = nullptr;
    // The selected row, or -1.
    int SelectedRow() const;
    void SelectRow(int Row);
    // The selected row's record, or null; it lives as long as the row.
    TlvFilesRecord* SelectedRecord() const;
    TlvFilesRecord* RowRecord(int Row) const;
    // The text of one column of a row as the list shows it (see TFileColumn).
    QString RowText(int Row, int Column) const;

    void AppendLog(const QString& Line);
    QString LogText() const;
    // The line under the list; empty when nothing needs saying.
    QString StatusText() const;

    TVxAVConverter& Converter() { return VxAVC; }

    // The batch conversion run, which the Start commands start.
    TBatchRun* Batch() const { return FBatch.get(); }
    // Files that did not open in the last add command.
    int LastAddFailures() const { return FLastAddFailures; }

    // Controls, named as the window's code and tests know them.
    TFilesView* lvFiles = nullptr;
    QPlainTextEdit* mmoLog = nullptr;
    QLabel* lblStatus = nullptr;
    QToolButton *btnAdd = nullptr, *btnRemove = nullptr, *btnClear = nullptr, *btnSettings = nullptr,
                *btnStart = nullptr, *btnExit = nullptr;
    QPushButton* btnStartBelow = nullptr;
    QLabel* lblOutputFormat = nullptr;
    QComboBox* cbOutputFormat = nullptr;
    QPushButton* btnOptions = nullptr;
    QLabel* lblDirectory = nullptr;
    QLineEdit* edDirectory = nullptr;
    QPushButton *btnBrows = nullptr, *btnOpen = nullptr;
    QGroupBox* grpPreview = nullptr;
    TPictureView* imgPreview = nullptr;
    QLabel* imgPreview1 = nullptr;
    QLabel* lblPTS = nullptr;
    QSlider* trcPreview = nullptr;
    QToolButton *imgbtnPlay = nullptr, *imgbtnPause = nullptr, *imgbtnStop = nullptr, *imgbtnSnap = nullptr;
    QPushButton *btnPause = nullptr, *btnResume = nullptr, *btnStop = nullptr;
    QTimer* Timer1 = nullptr;

    // Menus and their entries.
    QMenu *File1 = nullptr, *Edit2 = nullptr, *Tools1 = nullptr, *Help1 = nullptr, *Skin1 = nullptr,
          *PopupMenu1 = nullptr;
    QAction *Edit1 = nullptr, *Remove1 = nullptr, *Clear1 = nullptr, *Start1 = nullptr, *Settings1 = nullptr,
            *Exit2 = nullptr;
    QAction *Crop1 = nullptr, *Trim1 = nullptr, *WaterMark1 = nullptr, *CheckAll1 = nullptr,
            *UncheckAll1 = nullptr, *ReserveCheck1 = nullptr, *Check1 = nullptr, *Uncheck1 = nullptr;
    QAction *Options1 = nullptr, *ShowLog1 = nullptr;
    std::array<QAction*, 7> SkinEntries{};
    QAction *Help2 = nullptr, *WebSite1 = nullptr, *SupportandContact1 = nullptr, *About = nullptr;
    QAction *Crop2 = nullptr, *Trim2 = nullptr, *WaterMark2 = nullptr, *Infomation1 = nullptr, *AddFiles1 = nullptr,
            *Remove2 = nullptr, *Clear2 = nullptr, *Start2 = nullptr;

public slots:
    // File commands.
    void btnAddClick();
    void btnRemoveClick();
    void btnClearClick();
    // Starts the batch run with the selected output profile.
    void btnStartClick();
    // The profile settings dialog fills this.
    void btnSettingsClick();
    void btnExitClick();
    // The preferences dialog fills this.
    void Options1Click();

    // Edit commands on the selected row; the crop, trim and file
    // information dialogs fill these three.
    void Crop1Click();
    void Trim1Click();
    void Infomation1Click();
    void WaterMark1Click();
    void CheckAll1Click();
    void UncheckAll1Click();
    void ReserveCheck1Click();
    void Check1Click();
    void Uncheck1Click();

    // Help.
    void Help2Click();
    void WebSite1Click();
    void SupportandContact1Click();
    void AboutClick();
    void ShowLog1Click();

    // Themes: Index 0..6 in the Skin menu's order.
    void SkinClick(int Index);

    // Output profile and folder.
    void cbOutputFormatChange(int Index);
    void btnBrowsClick();
    void btnOpenClick();
    void edDirectoryChange(const QString& Text);

    // Menu enabling when a menu opens.
    void Edit2Popup();
    void PopupMenu1Popup();
    void Skin1Popup();
    // The right-click menu at Position (viewport coordinates of the list).
    void lvFilesContextPopup(const QPoint& Position);

    // The preview player fills these: double click on the list, the
    // preview buttons, the slider and the 500 ms tick.
    void lvFilesDblClick();
    void imgbtnPlayClick();
    void imgbtnPauseClick();
    void imgbtnStopClick();
    void imgbtnSnapClick();
    void trcPreviewChange(int Position);
    void Timer1Timer();

signals:
    // The window was exposed on screen for the first time.
    void FirstShown();
    // The files of the command line have been added.
    void InitialFilesAdded(int Added);

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

    // Preview state for the preview player: true at start-up, after Stop,
    // at the end of a file, after Clear and while a batch is built.
    bool FStopped = true;
    bool FPaused = false;

private:
    void CreateControls();
    void CreateMenus();
    void ConnectCommands();
    void ReadStartState();
    void SetPreviewStartState();
    void SetSkinChecks(int Index);
    void SetStatus(const QString& Text);
    void OpenPage(const std::string& Url);
    bool LoadLibraries();
    int AddFilesNow(const QStringList& Paths);
    void AddInitialFiles();
    // The list became empty: columns go, the preview stops.
    void ListEmptied();
    // Preview.cpp: the player, Play and double click, the flags shared with
    // the other commands.
    void CreatePreview();
    void PlaySelected(bool FromList);
    void PreviewFlagsIn();
    void PreviewFlagsOut();
    void CreateBatch();
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
