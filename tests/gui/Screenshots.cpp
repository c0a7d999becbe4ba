// Writes a PNG of the main window and the dialogs, with real content, under
// every theme (every window under Default, Purple, Dark and System; the main
// window under the others), the main window at 1280 x 800 and maximised, and
// the previews of an anamorphic and a portrait source under Dark and System:
//   screenshots OUTPUT_FOLDER [MEDIA_FOLDER]
//   screenshots --screen FILE
// Run it under xvfb-run (the combo box's open list is taken from the screen).
// The second form saves the whole screen, with whatever other programs show
// on the same display.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <filesystem>

#include "app/GlobalUnit.h"
#include "dialogs/Directory.h"
#include "dialogs/WinAbout.h"
#include "dialogs/WinCover.h"
#include "dialogs/WinCrop.h"
#include "dialogs/WinFileInfo.h"
#include "dialogs/WinPreference.h"
#include "dialogs/WinProgress.h"
#include "dialogs/WinTrim.h"
#include "dialogs/WinWaterMark.h"
#include "gui/ProfileList.h"
#include "gui/BatchRun.h"
#include "gui/FileList.h"
#include "gui/LogWindow.h"
#include "gui/WinMain.h"
#include "gui/WinSettings.h"
#include "widgets/PictureView.h"
#include "widgets/Theme.h"

namespace {

QString OutFolder;
int Written = 0;

void Settle(int Ms = 150) {
    QElapsedTimer T;
    T.start();
    while (T.elapsed() < Ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

void Save(const QPixmap& Picture, const QString& Name) {
    const QString Path = QDir(OutFolder).filePath(Name + ".png");
    if (Picture.isNull() || !Picture.save(Path)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(Path));
        return;
    }
    ++Written;
    std::printf("%s\n", qPrintable(Path));
}

void Shoot(QWidget* Window, const QString& Name) {
    Window->raise();
    Window->activateWindow();
    Settle();
    Save(Window->grab(), Name);
}

QString ThemeFileName(int Index) { return QString::fromLatin1(ThemeName(Index)).toLower().replace(' ', '_'); }

// A settings file of its own beside the shipped profile file.
TStartOptions FreshSettings(const QTemporaryDir& Scratch, int Theme) {
    const QString Settings = Scratch.filePath(QString("settings%1.ini").arg(Theme));
    QFile::remove(Settings);
    QFile::copy(QString(SOURCE_DIR "/data/tarnmp4videoconverter.ini"), Settings);
    QFile(Settings).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    TAppSettings S(Settings.toStdString());
    S.SetSkinIndex(Theme);
    S.SetOutputDir(Scratch.filePath("out").toStdString());
    TStartOptions Options;
    Options.SettingsFile = Settings.toStdString();
    Options.ProfilesFile = SOURCE_DIR "/data/tarnmp4format.ini";
    return Options;
}

// The file information of a sound file and of an MPEG-2 file, which keep
// their rates and shape in other places than an MP4, and of a film with two
// sound tracks in their languages and subtitles, under a light and a dark
// theme.
void ShootFileInformation(const QString& Media) {
    const std::pair<const char*, const char*> Sources[] = {
        {"tone.mp3", "mp3"}, {"interlaced_tff.mpg", "mpeg2"}, {"tracks.mkv", "tracks"}};
    for (int Theme : {0, ThemeDark}) {
        ApplyTheme(Theme);
        for (const auto& [File, Kind] : Sources) {
            TfrmFileInfo Info;
            Info.SetSourceFile(QDir(Media).filePath(File).toStdString());
            Info.show();
            Shoot(&Info, QString("file_info_%1_").arg(Kind) + ThemeFileName(Theme));
            Info.reject();
        }
    }
}

// The previews of the main window, the trim and the crop dialog on an
// anamorphic 16:9 PAL source (720 x 576, sample aspect 64:45) and a phone's
// portrait source (a display matrix that av_display_rotation_get reads as
// -90), under Dark and System. Their pictures hold a circle and an arrow
// pointing up: round and upright when shown right.
void ShootShapedPreviews(const QString& Media, const QTemporaryDir& Scratch) {
    struct TSource {
        const char* File;
        const char* Name;
    };
    for (int Theme : {ThemeDark, ThemeSystem})
        for (TSource Source : {TSource{"shape_pal_64x45.mp4", "anamorphic"}, TSource{"shape_phone_m90.mp4", "portrait"}}) {
            const QString Path = QDir(Media).filePath(Source.File);
            const QString Suffix = QString("%1_").arg(Source.Name) + ThemeFileName(Theme);
            TfrmMain Main(FreshSettings(Scratch, Theme));
            Main.show();
            Main.Timer1->stop();
            Main.AddFiles({Path});
            Main.SelectRow(0);
            Main.lvFilesDblClick();
            Main.Timer1Timer();
            Shoot(&Main, "preview_main_" + Suffix);
            TlvFilesRecord Clip;
            Clip.SourceFile = Path.toStdString();
            Clip.CropTop = Clip.CropBottom = 40;
            TfrmTrim TrimBox(&Main);
            TrimBox.SetRow(&Clip, [](int) {});
            TrimBox.show();
            TrimBox.imgbtnpauseClick();
            Shoot(&TrimBox, "preview_trim_" + Suffix);
            TrimBox.reject();
            TfrmCrop CropBox(&Main);
            CropBox.SetRow(&Clip);
            CropBox.show();
            CropBox.imgbtnpauseClick();
            Shoot(&CropBox, "preview_crop_" + Suffix);
            CropBox.reject();
            Main.close();
            Settle(50);
        }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshots OUTPUT_FOLDER [MEDIA_FOLDER]\n");
        return 2;
    }
    if (QString::fromLocal8Bit(argv[1]) == "--screen") {
        QScreen* Screen = QGuiApplication::primaryScreen();
        if (argc < 3 || !Screen) return 2;
        return Screen->grabWindow(0).save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    OutFolder = QString::fromLocal8Bit(argv[1]);
    const QString Media = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString(TEST_MEDIA_DIR);
    QDir().mkpath(OutFolder);
    QTemporaryDir Scratch;
    // Message boxes would wait for a click: they become lines here.
    SetMessageFunction([](const std::string& Caption, const std::string& Text, TMessageKind) {
        std::fprintf(stderr, "%s: %s\n", Caption.c_str(), Text.c_str());
    });
    const QStringList Files = {QDir(Media).filePath("clip.avi"), QDir(Media).filePath("pal_16x15.mp4"),
                               QDir(Media).filePath("tone.mp3"), QDir(Media).filePath("random.bin")};

    for (int Theme = 0; Theme < ThemeCount; ++Theme) {
        // Every window under these; the main window under the others.
        const bool AllWindows = Theme == 0 || Theme == 3 || Theme == ThemeDark || Theme == ThemeSystem;
        TfrmMain Main(FreshSettings(Scratch, Theme));
        // The tool does not live beside the program: the list's picture
        // comes from the program's folder.
        if (Main.lvFiles->BackgroundPicture().isNull())
            Main.lvFiles->SetBackgroundPicture(QImage(APP_BIN_DIR "/skin/lvBack.bmp"));
        Main.show();
        Shoot(&Main, "main_empty_" + ThemeFileName(Theme));
        Main.AddFiles(Files);
        Main.SelectRow(2);
        Main.lvFiles->setFocus();
        Shoot(&Main, "main_files_" + ThemeFileName(Theme));
        if (AllWindows) {
            // The preview group on a video, a still picture and an audio-only
            // file, two ticks into each; the timer is driven by hand.
            TfrmMain Previewing(FreshSettings(Scratch, Theme));
            Previewing.show();
            Previewing.Timer1->stop();
            Previewing.AddFiles({QDir(Media).filePath("clip.mp4"), QDir(Media).filePath("still.png"),
                                 QDir(Media).filePath("tone.mp3")});
            const char* Kinds[] = {"video", "still", "audio"};
            for (int Row = 0; Row < 3; ++Row) {
                Previewing.imgbtnStopClick();
                Previewing.SelectRow(Row);
                Previewing.lvFilesDblClick();
                Previewing.Timer1Timer();
                Previewing.Timer1Timer();
                Shoot(&Previewing, QString("main_preview_%1_").arg(Kinds[Row]) + ThemeFileName(Theme));
            }
            Previewing.close();
        }
        if (AllWindows) {
            // The trim and crop dialogs on a video with a trim and borders set.
            TlvFilesRecord Clip;
            Clip.SourceFile = QDir(Media).filePath("clip.mp4").toStdString();
            Clip.TrimStart = 1000;
            Clip.TrimLength = 1500;
            Clip.CropTop = Clip.CropBottom = 40;
            Clip.CropLeft = 24;
            TfrmTrim TrimBox(&Main);
            TrimBox.SetRow(&Clip, [](int) {});
            TrimBox.show();
            TrimBox.imgbtnpauseClick();
            Shoot(&TrimBox, "trim_" + ThemeFileName(Theme));
            TrimBox.reject();
            TfrmCrop CropBox(&Main);
            CropBox.SetRow(&Clip);
            CropBox.show();
            CropBox.imgbtnpauseClick();
            Shoot(&CropBox, "crop_" + ThemeFileName(Theme));
            CropBox.reject();
        }
        if (AllWindows) {
            // The progress dialog during a batch, with the live picture.
            TfrmMain Batching(FreshSettings(Scratch, Theme));
            Batching.Batch()->SetModalLoop(false);
            Batching.show();
            SelectProfile(Batching.cbOutputFormat, 26);
            Batching.AddFiles({QDir(Media).filePath("long35.avi")});
            Batching.btnStartClick();
            TfrmProgress* Progress = Batching.Batch()->ProgressDialog();
            QElapsedTimer Waited;
            Waited.start();
            while (Waited.elapsed() < 60000 &&
                   (Progress->lblProgress->text().isEmpty() ||
                    Progress->imgPreview->Canvas().pixelColor(186, 105) == PreviewBackground ||
                    !Progress->progbarFile->format().contains(" left")))
                Settle(50);
            Settle(300);
            Shoot(Progress, "progress_" + ThemeFileName(Theme));
            Batching.close();
        }
        if (Theme == 0 || Theme == ThemeDark) {
            // The window grown: at 1280 x 800 and maximised (run the tool on
            // a 1920 x 1080 screen for the latter).
            TfrmMain Grown(FreshSettings(Scratch, Theme));
            Grown.resize(1280, 800);
            Grown.show();
            Grown.AddFiles(Files);
            QStringList Many;
            for (const char* Name : {"short.avi", "clip.mp4", "still.png", "tone.wav", "long35.avi"})
                Many << QDir(Media).filePath(Name);
            Grown.AddFiles(Many);
            Grown.SelectRow(1);
            Grown.lvFilesDblClick();
            Grown.Timer1->stop();
            Grown.Timer1Timer();
            Grown.lvFiles->setFocus();
            Shoot(&Grown, "main_1280x800_" + ThemeFileName(Theme));
            Grown.showMaximized();
            Settle(400);
            // Without a window manager nothing maximises: take the screen's
            // room as one would.
            if (Grown.screen() && Grown.size() != Grown.screen()->availableGeometry().size()) {
                Grown.setGeometry(Grown.screen()->availableGeometry());
                Settle(200);
            }
            Shoot(&Grown, "main_maximised_" + ThemeFileName(Theme));
            Grown.close();
        }
        if (AllWindows) {
            // The dialogs of the file list and the profile.
            TfrmSettings Settings(TProfileFiles{Main.SettingsIni(), SOURCE_DIR "/data/tarnmp4format.ini"}, &Main);
            Settings.show();
            Shoot(&Settings, "settings_" + ThemeFileName(Theme));
            Settings.reject();
            // A constant-quality profile: the quality slider and speed list.
            Settings.SetCatalogue(CatalogueNames(), 36);
            Settings.show();
            Shoot(&Settings, "settings_quality_" + ThemeFileName(Theme));
            Settings.reject();
            // A player profile's bit rate with the quality mode chosen.
            Settings.SetCatalogue(CatalogueNames(), 16);
            Settings.show();
            Settings.chkQuality->setChecked(true);
            Shoot(&Settings, "settings_capped_quality_" + ThemeFileName(Theme));
            Settings.reject();
            // A profile that copies: why there is no size or frame rate.
            Settings.SetCatalogue(CatalogueNames(), 49);
            Settings.show();
            Shoot(&Settings, "settings_copy_" + ThemeFileName(Theme));
            Settings.reject();
            if (Theme == 0 || Theme == ThemeDark) {
                // The grouped profile list opened.
                Main.cbOutputFormat->setFocus();
                Main.cbOutputFormat->showPopup();
                Settle(300);
                if (QScreen* Screen = Main.screen())
                    Save(Screen->grabWindow(0), "main_profiles_grouped_" + ThemeFileName(Theme));
                Main.cbOutputFormat->hidePopup();
            }
            TfrmFileInfo Info(&Main);
            Info.SetSourceFile(QDir(Media).filePath("clip.avi").toStdString());
            Info.show();
            Shoot(&Info, "file_info_" + ThemeFileName(Theme));
            Info.reject();
            TfrmAbout AboutBox(&Main);
            AboutBox.show();
            Shoot(&AboutBox, "about_" + ThemeFileName(Theme));
            AboutBox.reject();
            TfmDirectory Chooser(&Main);
            Chooser.SetStartFolder(Scratch.filePath("out").toStdString());
            Chooser.show();
            Shoot(&Chooser, "folder_chooser_" + ThemeFileName(Theme));
            Chooser.reject();
            TfrmWaterMark Mark(&Main);
            Mark.SetSourceFile(Main.SelectedRecord() ? Main.SelectedRecord()->SourceFile : std::string());
            Mark.show();
            Shoot(&Mark, "watermark_" + ThemeFileName(Theme));
            Mark.reject();
            TfrmPreference Preference(Main.SettingsIni(), &Main);
            Preference.show();
            Shoot(&Preference, "preference_" + ThemeFileName(Theme));
            Preference.reject();
            Main.findChild<QAction*>("ShowLog")->trigger();
            if (auto* Log = Main.findChild<TfrmLog*>()) {
                Shoot(Log, "log_window_" + ThemeFileName(Theme));
                Log->close();
            }
        }
        if (Theme == 0) {
            // The list without the focus: the lighter selection.
            Main.cbOutputFormat->setFocus();
            Shoot(&Main, "main_files_unfocused");
            // The profile list opened: all 36 entries without scrolling.
            Main.cbOutputFormat->showPopup();
            Settle(300);
            if (QScreen* Screen = Main.screen()) Save(Screen->grabWindow(0), "main_profiles_open");
            Main.cbOutputFormat->hidePopup();
            // The Skin menu with its check mark, the right-click menu.
            auto* Skin = Main.findChild<QMenu*>("Skin1");
            Skin->popup(Main.mapToGlobal(QPoint(120, 30)));
            Settle(200);
            if (QScreen* Screen = Main.screen()) Save(Screen->grabWindow(0).copy(0, 0, 800, 560), "menu_skin");
            Skin->hide();
            // The menus with their keys.
            for (const char* Name : {"FileMenu", "Edit2", "ToolsMenu"}) {
                auto* Menu = Main.findChild<QMenu*>(Name);
                Menu->popup(Main.mapToGlobal(QPoint(20, 30)));
                Settle(200);
                if (QScreen* Screen = Main.screen())
                    Save(Screen->grabWindow(0).copy(0, 0, 800, 560), QString("menu_%1").arg(Name).toLower());
                Menu->hide();
            }
            Main.lvFilesContextPopup(QPoint(60, 40));
            Settle(200);
            if (QScreen* Screen = Main.screen()) Save(Screen->grabWindow(0).copy(0, 0, 800, 560), "menu_popup");
            Main.findChild<QMenu*>("ListMenu")->hide();
            // The open dialog with its filter.
            QTimer::singleShot(400, [&] {
                if (auto* Open = Main.findChild<QWidget*>("dlgOpen")) {
                    Save(Open->grab(), "open_dialog");
                    Open->close();
                }
            });
            Main.btnAddClick();
        }
        Main.close();
        Settle(50);
    }
    ShootShapedPreviews(Media, Scratch);
    for (int Theme : {0, 3, ThemeDark, ThemeSystem}) {
        ApplyTheme(Theme);
        TfrmCover Cover;
        Cover.ShowNow();
        Shoot(&Cover, "splash_" + ThemeFileName(Theme));
        Cover.hide();
    }
    ShootFileInformation(Media);
    SetMessageFunction({});
    std::printf("%d pictures\n", Written);
    return Written > 0 ? 0 : 1;
}
